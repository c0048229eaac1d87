"""Folders, APPEND, COPY and MOVE through the real store and sink, from Python's imaplib: the
special-use folders, stamps that copies and moves keep and a save never makes, UIDs through a
RENAME, folded keywords, and APPENDs up to the size limit from several clients at once.

usage: imap_folders_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import imaplib
import os
import sys
import threading
import unittest

import exhost_harness
from exhost_harness import (ACCOUNT, INBOX, SPECIAL_USE, ImapServer, exhost, keywords_of, listed, ok,
                            stored_messages)

DLL = FIXTURES = None
PASSWORD = "looking-glass-3"
MAILBOX = INBOX.rsplit("/", 1)[0]
# The server's --max-size, which APPEND's literals are held to: more than the 256 KB of input it
# holds, so that a literal must arrive past that bound.
MAX_SIZE = 300_000
TAGGED = b"""From: Carol <carol@partner.example.net>
To: sales@example.com
Subject: Order 77
Keywords: Orders, Partner
Message-ID: <order-77@partner.example.net>

Five boxes, please.
""".replace(b"\n", b"\r\n")


def items(folder):
    return stored_messages(f"{MAILBOX}/{folder}")


def message(subject, size=0):
    """A message of about `size` octets (exactly, when that is more than its header), its lines
    ending in CRLF as the store keeps them."""
    head = f"From: alice@example.com\r\nTo: sales@example.com\r\nSubject: {subject}\r\n\r\n"
    body = ("x" * 76 + "\r\n") * (max(size - len(head) - 80, 0) // 78)
    text = (head + body).encode()
    return text + b"y" * max(size - len(text) - 2, 5) + b"\r\n"


class ImapFolders(exhost_harness.ServerFolderTests):
    password = PASSWORD

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvfolders", FIXTURES, PASSWORD, 2, DLL)
        # The sender's keywords become tags, so that the sink folds them with its stamp.
        with open(os.path.join(cls.root, "machine.conf"), "a") as conf:
            conf.write("take_keywords = yes\n")
        tagged = os.path.join(cls.root, "tagged.eml")
        with open(tagged, "wb") as out:
            out.write(TAGGED)
        plain = os.path.join(FIXTURES, "messages", "01-plain.eml")
        exhost("deliver", "--rcpt", "alice@example.com", plain, plain, plain, tagged)
        cls.server = ImapServer("--root", cls.root, "--max-size", str(MAX_SIZE))

    def test_every_mailbox_has_the_special_use_folders_and_keeps_the_owners_choices(self):
        client = self.client()
        folders = listed(client)
        for name, use in SPECIAL_USE.items():
            self.assertIn(use, folders[name], name)
        self.assertEqual(set(listed(client, "LIST", "(SPECIAL-USE)", '""', "*")), set(SPECIAL_USE))
        self.assertEqual(set(listed(client, "LSUB", '""', "*")), {"INBOX", *SPECIAL_USE})
        # What the owner deletes or unsubscribes from stays so in the next session.
        self.assertEqual(client.create("Scratch")[0], "OK")
        self.assertEqual(client.delete("Scratch")[0], "OK")
        self.assertEqual(client.unsubscribe("Drafts")[0], "OK")
        again = self.client()
        self.assertNotIn("Scratch", listed(again))
        self.assertNotIn("Drafts", listed(again, "LSUB", '""', "*"))
        self.assertEqual(again.subscribe("Drafts")[0], "OK")

    def test_folded_keywords_show_one_by_one_and_a_store_writes_them_apart(self):
        client = self.client()
        client.select("INBOX")
        (uid,) = client.uid("SEARCH", "HEADER", "Message-ID", "order-77")[1][0].split()
        stored = [item for item in items("Inbox") if "order-77" in str(item)]
        self.assertEqual(keywords_of(stored[0]), ["Orders,Partner,sales@example.com"])
        flags = client.uid("FETCH", uid, "(FLAGS)")[1][0]
        for keyword in (b"Orders", b"Partner", b"sales@example.com"):
            self.assertIn(keyword, flags)
        self.assertEqual(client.uid("SEARCH", "KEYWORD", "sales@example.com")[1][0], uid)
        self.assertEqual(client.uid("STORE", uid, "+FLAGS", "(Later)")[0], "OK")
        after = [item for item in items("Inbox") if "order-77" in str(item)]
        self.assertEqual(keywords_of(after[0]), ["Orders", "Partner", "sales@example.com", "Later"])

    def test_appended_mail_is_not_stamped_and_copies_and_moves_keep_the_stamp(self):
        client = self.client()
        data = ok(client.append("Archive", "(\\Seen)", '"07-Dec-2026 10:00:00 +0200"',
                                message("kept by hand")))
        self.assertRegex(data[0], rb"^\[APPENDUID \d+ \d+\]")
        (appended,) = [item for item in items("Archive") if "kept by hand" in str(item)]
        self.assertEqual(keywords_of(appended), [])
        self.assertNotIn(ACCOUNT, appended["properties"])
        self.assertIs(appended["properties"].get("urn:schemas:httpmail:read"), True)

        client.select("INBOX")
        uids = client.uid("SEARCH", "KEYWORD", "alice@example.com")[1][0].split()
        self.assertGreaterEqual(len(uids), 3)
        stamp = keywords_of(items("Inbox")[0])
        self.assertEqual(client.uid("COPY", uids[0], "Archive")[0], "OK")
        self.assertRegex(client.response("COPYUID")[1][0], rb"^\d+ " + uids[0] + rb" \d+$")
        before = len(items("Inbox"))
        ok(client.uid("MOVE", uids[1], "Trash"))
        self.assertEqual(len(items("Inbox")), before - 1)
        self.assertEqual([keywords_of(item) for item in items("Trash")], [stamp])
        self.assertIn(stamp, [keywords_of(item) for item in items("Archive")])
        # The copies read back as the original does.
        client.select("Trash")
        moved = client.fetch("1", "(BODY.PEEK[])")[1][0][1]
        self.assertIn(b"Quarterly figures", moved)
        typ, data = client.copy("1", "Nowhere")
        self.assertEqual((typ, data), ("NO", [b"[TRYCREATE] No such folder"]))

    def test_renamed_folders_keep_their_uids(self):
        client = self.client()
        self.assertEqual(client.create("Projects/2026")[0], "OK")
        for subject in ("one", "two"):
            client.append("Projects/2026", None, None, message(subject))
        client.select("Projects/2026")
        validity = client.response("UIDVALIDITY")[1][0]
        uids = client.uid("SEARCH", "ALL")[1][0]
        client.close()
        self.assertEqual(client.rename("Projects", "Work")[0], "OK")
        self.assertEqual(client.select("Work/2026")[0], "OK")
        self.assertEqual(client.response("UIDVALIDITY")[1][0], validity)
        self.assertEqual(client.uid("SEARCH", "ALL")[1][0], uids)
        self.assertEqual(client.select("Projects/2026")[0], "NO")

    def test_appends_up_to_the_size_limit_from_several_clients_at_once(self):
        sizes = [1, MAX_SIZE // 2, MAX_SIZE]
        results = {}

        def append(client, number):
            for size in sizes:
                results[(number, size)] = client.append(
                    "Drafts", "(\\Draft)", None, message(f"draft {number} size {size} end", size))[0]

        clients = [self.client() for _ in range(3)]
        threads = [threading.Thread(target=append, args=(c, n)) for n, c in enumerate(clients)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(60)
        self.assertEqual(set(results.values()), {"OK"}, results)
        client = self.client()
        client.select("Drafts", readonly=True)
        for number in range(3):
            for size in sizes:
                found = client.search(None, "SUBJECT", f'"draft {number} size {size} end"')[1][0].split()
                self.assertEqual(len(found), 1, (number, size))
                fetched = client.fetch(found[0], "(RFC822.SIZE BODY.PEEK[])")[1][0]
                self.assertEqual(fetched[1], message(f"draft {number} size {size} end", size))
        # One octet more is refused before it is read, and the session goes on.
        with self.assertRaises(imaplib.IMAP4.error) as refused:
            client.append("Drafts", None, None, b"z" * (MAX_SIZE + 1))
        self.assertIn("TOOBIG", str(refused.exception))
        self.assertEqual(client.noop()[0], "OK")

    def test_a_copy_of_more_than_is_read_at_once_keeps_every_message_whole(self):
        # 16 messages of the largest size are more octets than the server reads in one go.
        client = self.client()
        client.create("Bulk")
        sent = [message(f"bulk {number} end", MAX_SIZE) for number in range(16)]
        for text in sent:
            self.assertEqual(client.append("Bulk", None, None, text)[0], "OK")
        client.create('"Bulk copies"')
        client.select("Bulk")
        self.assertEqual(client.uid("COPY", "1:*", '"Bulk copies"')[0], "OK")
        copied = client.response("COPYUID")[1][0].split()[2]
        client.select('"Bulk copies"', readonly=True)
        typ, data = client.uid("FETCH", copied.decode(), "(BODY.PEEK[])")
        self.assertEqual([part[1] for part in data if isinstance(part, tuple)], sent)


if __name__ == "__main__":
    exhost_harness.EXHOST, DLL, FIXTURES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
