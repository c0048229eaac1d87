"""Stores made by earlier builds (tests/fixtures/stores) in a server folder of today's build:
each is brought up to date when first opened, takes new mail that the sink stamps, and shows
its old and new messages to a real IMAP client (Python's imaplib) in the order they came. One
of a newer format is refused with an error naming both formats, and left as it was.

usage: store_format_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import imaplib
import json
import os
import pathlib
import shutil
import sqlite3
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
import exhost_harness  # noqa: E402 (beside the IMAP front's tests)
from exhost_harness import INBOX, ImapServer, exhost  # noqa: E402

DLL = FIXTURES = None
PASSWORD = "upgrade-7"
KEYWORDS = "urn:schemas-microsoft-com:office:office#Keywords"
CURRENT_FORMAT = 5
NEW_MESSAGE = (b"From: carol@example.org\r\nTo: Alice <alice.smith@example.com>\r\n"
               b"Subject: After the upgrade\r\n\r\nHello.\r\n")


class OldStores(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvformat", FIXTURES, PASSWORD, 1, DLL)
        cls.message = os.path.join(cls.root, "new.eml")
        pathlib.Path(cls.message).write_bytes(NEW_MESSAGE)

    @classmethod
    def tearDownClass(cls):
        exhost_harness.remove_server_folder(cls.root)

    def use_store(self, fixture):
        """The server folder's store becomes a copy of the fixture."""
        database = os.path.join(self.root, "store", "store.db")
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(database + suffix):
                os.remove(database + suffix)
        shutil.copyfile(os.path.join(FIXTURES, "stores", fixture), database)
        os.chmod(database, 0o600)
        return database

    def read_inbox(self):
        """(UID, subject) of every Inbox message and the keywords of the last, over IMAP."""
        server = ImapServer()
        try:
            client = imaplib.IMAP4("127.0.0.1", server.port)
            client.login("alice@example.com", PASSWORD)
            self.assertEqual(client.select("INBOX", readonly=True)[0], "OK")
            typ, fetched = client.uid("FETCH", "1:*",
                                      "(UID FLAGS MODSEQ BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
            self.assertEqual(typ, "OK")
            client.logout()
        finally:
            server.stop()
        messages = []
        for part in fetched:
            if isinstance(part, tuple):
                head, data = part
                uid = int(head.split(b"UID ")[1].split()[0])
                subject = data.decode().split(":", 1)[1].strip()
                messages.append((uid, subject, head.decode()))
        return messages

    # The format the file records after the upgrade is StoreFormatTest's.
    def test_each_earlier_format_is_upgraded_and_shows_old_and_new_mail(self):
        # Items and properties only; numbers but no change counter; made before formats were
        # recorded; properties in a table without row ids.
        format_4 = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures",
                                "format-4.db")
        for fixture in ("format-1.db", "format-2.db", "format-3-unrecorded.db", format_4):
            with self.subTest(fixture):
                self.use_store(fixture)
                exhost_harness.register_sink()
                exhost("deliver", "--rcpt", "alice.smith@example.com", self.message)
                messages = self.read_inbox()
                self.assertEqual([subject for _, subject, _ in messages],
                                 ["Quarterly figures", "Expanded by the gateway",
                                  "After the upgrade"])
                uids = [uid for uid, _, _ in messages]
                self.assertEqual(uids, sorted(set(uids)))
                # The old messages got a mod-sequence at the upgrade, the new one a higher one.
                modseqs = [int(head.split("MODSEQ (")[1].split(")")[0]) for _, _, head in messages]
                self.assertGreater(min(modseqs), 1)
                self.assertGreater(modseqs[-1], max(modseqs[:-1]))
                # The sink ran for the new message: its keyword is the address it came by.
                self.assertIn("alice.smith@example.com", messages[-1][2])
                items = json.loads(exhost("show", INBOX, "--json"))["items"]
                stamped = [item for item in items if item["properties"].get(KEYWORDS)]
                self.assertEqual(len(stamped), 1)

    def test_a_newer_format_is_refused_and_left_as_it_was(self):
        database = self.use_store("format-3-unrecorded.db")
        db = sqlite3.connect(database)
        db.execute("PRAGMA user_version = 9")
        db.close()
        bytes_before = pathlib.Path(database).read_bytes()
        result = exhost_harness.run("deliver", "--rcpt", "alice@example.com", self.message)
        self.assertEqual(result.returncode, 1)
        self.assertIn("format 9", result.stderr)
        self.assertIn(f"up to {CURRENT_FORMAT}", result.stderr)
        self.assertIn("0x80030105", result.stderr)
        self.assertEqual(pathlib.Path(database).read_bytes(), bytes_before)


if __name__ == "__main__":
    exhost_harness.EXHOST, DLL, FIXTURES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
