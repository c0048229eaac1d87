"""The IMAP front over loopback from Python's imaplib: the roads through the real store, directory
and sink (the protocol's rules are ImapSessionTest's), with Alice's mail delivered and stamped.

usage: imap_front_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import base64
import glob
import imaplib
import os
import re
import socket
import subprocess
import sys
import time
import unittest

import exhost_harness
from exhost_harness import (ACCOUNT, ADDRESSES, BODY, HEADERS, ImapServer, exhost, keywords_of, ok,
                            reply, stored_messages)

DLL = FIXTURES = None
PASSWORD = "wonderland-7"


def flags_by_uid(fetched):
    """{uid: [flags...]} from FETCH (UID n FLAGS (...)) responses."""
    return {int(re.search(rb"UID (\d+)", line)[1]):
            re.search(rb"FLAGS \(([^)]*)\)", line)[1].decode().split() for line in fetched}


class ImapFront(exhost_harness.ServerFolderTests):
    user, password = "alice@example.com", PASSWORD

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvimap", FIXTURES, PASSWORD, 4, DLL)
        cls.messages = sorted(glob.glob(os.path.join(FIXTURES, "messages", "*.eml")))
        exhost("deliver", "--rcpt", "alice@example.com", *cls.messages)
        cls.server = cls.start()

    @classmethod
    def start(cls):
        # One address may open every session: the limit of 100 is the server's. Idling clients
        # learn of new mail from the store's change notices alone: the look besides them waits
        # an hour.
        return ImapServer("--root", cls.root, "--max-per-client", "100", "--idle-poll", "3600")

    def test_keywords_flags_and_search_agree_with_the_store(self):
        client = self.client()
        ok(client.select("INBOX"))
        seen = flags_by_uid(ok(client.uid("FETCH", "1:*", "(UID FLAGS)")))
        uids = sorted(seen)
        self.assertEqual(len(seen), len(self.messages))
        stamped = [keywords_of(item) for item in stored_messages()]
        self.assertTrue(any(stamped), "the sink stamped nothing")
        # UIDs ascend in the order the messages were delivered.
        keywords = [[flag for flag in seen[uid] if not flag.startswith("\\")] for uid in uids]
        self.assertEqual(keywords, stamped)
        for address in ADDRESSES:
            found = ok(client.uid("SEARCH", "KEYWORD", address))
            expected = [uid for uid, keywords in zip(uids, stamped) if address in keywords]
            self.assertEqual([int(n) for n in found[0].split()], expected, address)

    def test_messages_are_the_stored_bytes_and_sizes_agree(self):
        client = self.client()
        client.select("INBOX", readonly=True)
        fetched = ok(client.fetch("1:*", "(RFC822.SIZE BODY.PEEK[])"))
        bodies = [part for part in fetched if isinstance(part, tuple)]
        for (head, data), item in zip(bodies, stored_messages()):
            stored = item["properties"][HEADERS] + "\r\n" + item["properties"][BODY]
            self.assertEqual(data, stored.encode())
            self.assertEqual(int(re.search(rb"RFC822.SIZE (\d+)", head).group(1)), len(data))

    def test_store_saves_flags_through_the_store_and_the_sink_leaves_them_alone(self):
        client = self.client()
        client.select("INBOX")
        first = stored_messages()[0]
        (stamp,) = [kw for kw in keywords_of(first) if kw in ADDRESSES]
        account = first["properties"].get(ACCOUNT)
        ok(client.store("1", "+FLAGS", "(\\Flagged \\Seen project-x)"))
        ok(client.store("1", "-FLAGS", f"({stamp})"))
        after = stored_messages()[0]
        self.assertEqual(keywords_of(after), ["project-x"])
        self.assertEqual(after["properties"].get(ACCOUNT), account)
        self.assertIs(after["properties"].get("urn:schemas:imap:flagged"), True)
        self.assertIs(after["properties"].get("urn:schemas:httpmail:read"), True)
        # Put the stamp back for the other tests.
        client.store("1", "FLAGS", f"({stamp})")
        self.assertEqual(keywords_of(stored_messages()[0]), [stamp])

    def test_logins_by_address_logon_name_and_plain(self):
        for user in ("alice@example.com", "ALICE.SMITH@example.com", "alice"):
            self.client(user)
        plain = imaplib.IMAP4("127.0.0.1", self.server.port)
        self.addCleanup(plain.logout)
        ok(plain.authenticate("PLAIN", lambda _: f"\0alice\0{PASSWORD}".encode()))
        for user, password in (("alice", "wrong"), ("nobody@example.com", PASSWORD), ("alice", "")):
            with self.assertRaises(imaplib.IMAP4.error):
                self.client(user, password)

    def test_passwords_are_kept_as_salted_hashes(self):
        with open(os.path.join(self.root, "machine.conf"), encoding="utf-8") as conf:
            uri = re.search(r"^directory_uri\s*=\s*(\S+)", conf.read(), re.MULTILINE).group(1)
        found = subprocess.run(["ldapsearch", "-LLL", "-Q", "-Y", "EXTERNAL", "-H", uri, "-b",
                                "DC=example,DC=com", "(mailNickname=alice)", "userPassword"],
                               capture_output=True, text=True, check=True).stdout
        value = base64.b64decode(re.search(r"userPassword:: (\S+)", found).group(1))
        self.assertTrue(value.startswith(b"{SSHA}"), value)
        self.assertNotIn(PASSWORD.encode(), value)

    def test_passwd_refuses_unknown_users_and_empty_passwords(self):
        for alias, stdin in (("nobody", "pw\n"), ("alice", "\n")):
            result = exhost_harness.run("passwd", alias, stdin=stdin)
            self.assertEqual(result.returncode, 1, alias)
            self.assertTrue(result.stderr.startswith("exhost: "), result.stderr)
        self.client()  # the password is still the one set before

    def test_a_user_sees_only_their_own_mailbox(self):
        client = self.client()
        typ, listed = client.list()
        self.assertEqual(listed, [b'(\\HasNoChildren) "/" "INBOX"'] +
                         [b'(\\HasNoChildren \\%s) "/" "%s"' % (name, name)
                          for name in (b"Archive", b"Drafts", b"Junk", b"Sent", b"Trash")])

    def test_idle_reports_new_mail(self):
        connection, reader = self.connect()
        connection.sendall(f"a LOGIN alice {PASSWORD}\r\nb SELECT INBOX\r\n".encode())
        selected = reply(reader, b"b")
        self.assertIn(b"b OK", selected[-1])
        # Recent here: what this session is the first to see, from the SELECT on.
        (recent,) = [int(line.split()[1]) for line in selected if line.endswith(b" RECENT\r\n")]
        connection.sendall(b"c IDLE\r\n")
        self.assertEqual(reader.readline(), b"+ idling\r\n")
        exhost("deliver", "--rcpt", "alice.smith@example.com", self.messages[1])
        self.assertRegex(reader.readline(), rb"^\* \d+ EXISTS\r\n$")
        connection.sendall(b"DONE\r\n")
        self.assertEqual(reader.readline(), f"* {recent + 1} RECENT\r\n".encode())
        self.assertEqual(reader.readline(), b"c OK IDLE terminated\r\n")
        connection.sendall(b"d UID SEARCH RECENT\r\n")
        newest = reader.readline().split()[-1]
        connection.sendall(b"e UID STORE " + newest + b" +FLAGS.SILENT (\\Deleted)\r\nf EXPUNGE\r\n")
        self.assertIn(b"f OK", reply(reader, b"f")[-1])

    def test_sessions_beyond_one_hundred_are_refused(self):
        sessions = [self.connect() for _ in range(100)]
        refused = socket.create_connection(("127.0.0.1", self.server.port), timeout=20)
        self.addCleanup(refused.close)
        self.assertEqual(refused.makefile("rb").readline(),
                         b"* BYE Too many sessions open, try again later\r\n")
        # A socket with a reader made from it stays open until both are closed.
        for connection, reader in sessions:
            reader.close()
            connection.close()
        # The server notices the hang-ups on its own time; the tests after this one need the room.
        deadline = time.monotonic() + 20
        while True:
            connection = socket.create_connection(("127.0.0.1", self.server.port), timeout=20)
            with connection, connection.makefile("rb") as reader:
                if reader.readline().startswith(b"* OK"):
                    break
            self.assertLess(time.monotonic(), deadline, "closed sessions were never given back")
            time.sleep(0.05)

    def test_zz_sigterm_stops_the_server_cleanly(self):
        connection, reader = self.connect()
        code, err = self.server.stop()
        self.assertEqual(code, 0)
        self.assertIn("stopped", err)
        self.assertEqual(reader.readline(), b"* BYE Server shutting down\r\n")
        type(self).server = self.start()


if __name__ == "__main__":
    exhost_harness.EXHOST, DLL, FIXTURES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
