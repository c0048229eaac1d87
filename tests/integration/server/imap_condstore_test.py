"""CONDSTORE, QRESYNC and \\Recent through the real store, from Python's imaplib, each told
what another session changed.

usage: imap_condstore_test.py EXHOST FIXTURES_DIR
"""

import os
import re
import sys
import unittest

import exhost_harness
from exhost_harness import ImapServer, exhost, ok

FIXTURES = None
PASSWORD = "modseq-tea-4"
FETCHED = re.compile(rb"\(UID (\d+) FLAGS \(([^)]*)\) MODSEQ \((\d+)\)\)")


def deliver(count=1):
    plain = os.path.join(FIXTURES, "messages", "01-plain.eml")
    exhost("deliver", "--rcpt", "alice@example.com", *[plain] * count)


def code(client, name):
    """The value of a response code (HIGHESTMODSEQ, RECENT) of the last answer, as a number."""
    return int(client.response(name)[1][-1])


def changed(client, since):
    """{uid: (flags, modseq)} of the messages changed since the mod-sequence."""
    found = {}
    for line in ok(client.uid("FETCH", "1:*", "(FLAGS)", f"(CHANGEDSINCE {since})")):
        if line is None:
            continue
        match = FETCHED.search(line)
        assert match, line
        found[int(match.group(1))] = (match.group(2).decode().split(), int(match.group(3)))
    return found


class ImapCondstore(exhost_harness.ServerFolderTests):
    password = PASSWORD

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvcondstore", FIXTURES, PASSWORD, 1)
        deliver(3)
        cls.server = ImapServer("--root", cls.root)
        # The first session takes the messages delivered so far; each test starts from there.
        first = cls.login()
        first.select("INBOX")
        first.logout()

    def test_a_client_resyncs_the_flags_another_session_changed(self):
        keeper = self.login()
        self.assertEqual(keeper.select("INBOX (CONDSTORE)")[0], "OK")
        highest = code(keeper, "HIGHESTMODSEQ")
        uids = keeper.uid("SEARCH", "ALL")[1][0].decode().split()
        self.assertGreaterEqual(len(uids), 3)
        self.assertEqual(changed(keeper, highest), {})
        keeper.logout()

        other = self.client()
        other.select("INBOX")
        for uid, flag in ((uids[0], "\\Flagged"), (uids[2], "$Important")):
            self.assertEqual(other.uid("STORE", uid, "+FLAGS.SILENT", f"({flag})")[0], "OK")

        # Back in a new session, knowing only the mod-sequence it kept.
        keeper = self.client()
        keeper.select("INBOX (CONDSTORE)")
        self.assertGreater(code(keeper, "HIGHESTMODSEQ"), highest)
        found = changed(keeper, highest)
        self.assertEqual(sorted(found), sorted(int(uid) for uid in (uids[0], uids[2])))
        self.assertIn("\\Flagged", found[int(uids[0])][0])
        self.assertIn("$Important", found[int(uids[2])][0])
        self.assertGreater(min(modseq for flags, modseq in found.values()), highest)
        self.assertEqual(keeper.uid("SEARCH", "MODSEQ", str(highest + 1))[1][0].decode().split()[:2],
                         [uids[0], uids[2]])
        typ, status = keeper.status("INBOX", "(HIGHESTMODSEQ)")
        self.assertIn(f"HIGHESTMODSEQ {max(m for f, m in found.values())}".encode(), status[0])

        # A store on condition that the message is unchanged since before: refused for the one
        # changed, done for the other. (The tagged answer as sent: uid() gives the FETCHes.)
        data = ok(keeper._simple_command("UID", "STORE", f"{uids[0]},{uids[1]}",
                                         f"(UNCHANGEDSINCE {highest})", "+FLAGS", "(\\Seen)"))
        self.assertEqual(data[-1], f"[MODIFIED {uids[0]}] Conditional UID STORE failed".encode())
        typ, stored = keeper.response("FETCH")
        self.assertEqual(len(stored), 1)
        self.assertIn(f"UID {uids[1]} ".encode(), stored[0])
        flags = keeper.uid("FETCH", f"{uids[0]},{uids[1]}", "(FLAGS)")[1]
        self.assertNotIn(b"\\Seen", flags[0])
        self.assertIn(b"\\Seen", flags[1])
        self.assertIn(b"MODSEQ", flags[1])

    def test_a_client_learns_what_vanished_and_changed_from_one_select(self):
        deliver(2)  # of its own: one is expunged
        keeper = self.login()
        keeper.select("INBOX")
        validity, highest = code(keeper, "UIDVALIDITY"), code(keeper, "HIGHESTMODSEQ")
        uids = keeper.uid("SEARCH", "ALL")[1][0].decode().split()
        keeper.logout()

        gone, flagged = uids[-1], uids[-2]
        other = self.client()
        other.select("INBOX")
        self.assertEqual(other.uid("STORE", gone, "+FLAGS.SILENT", "(\\Deleted)")[0], "OK")
        self.assertEqual(other.uid("EXPUNGE", gone)[0], "OK")
        self.assertEqual(other.uid("STORE", flagged, "+FLAGS.SILENT", "($Resynced)")[0], "OK")

        keeper = self.client()
        self.assertEqual(keeper.enable("QRESYNC")[0], "OK")
        ok(keeper.select(f"INBOX (QRESYNC ({validity} {highest} {','.join(uids)}))"))
        self.assertEqual(keeper.response("VANISHED")[1], [f"(EARLIER) {gone}".encode()])
        fetched = [line for line in keeper.response("FETCH")[1] if line]
        self.assertEqual(len(fetched), 1, fetched)
        match = FETCHED.search(fetched[0])
        self.assertEqual(match.group(1).decode(), flagged)
        self.assertIn("$Resynced", match.group(2).decode().split())
        self.assertGreater(int(match.group(3)), highest)

        # From now on an expunge is told by UID.
        self.assertEqual(keeper.uid("STORE", flagged, "+FLAGS.SILENT", "(\\Deleted)")[0], "OK")
        keeper.expunge()
        self.assertEqual(keeper.response("VANISHED")[1], [flagged.encode()])

    def test_a_new_message_is_recent_in_one_session_only(self):
        deliver()
        # STATUS and EXAMINE count it without taking it.
        typ, status = self.client().status("INBOX", "(RECENT)")
        self.assertIn(b"RECENT 1", status[0])
        looker = self.client()
        looker.select("INBOX", readonly=True)
        self.assertEqual(code(looker, "RECENT"), 1)

        first, second = self.client(), self.client()
        first.select("INBOX")
        self.assertEqual(code(first, "RECENT"), 1)
        second.select("INBOX")
        self.assertEqual(code(second, "RECENT"), 0)
        (new,) = first.uid("SEARCH", "RECENT")[1][0].split()
        self.assertEqual(second.uid("SEARCH", "RECENT")[1][0], b"")
        # The read-only session still shows what it saw untaken; once taken, none counts it.
        self.assertEqual(looker.uid("SEARCH", "RECENT")[1][0], new)
        typ, status = self.client().status("INBOX", "(RECENT)")
        self.assertIn(b"RECENT 0", status[0])
        late = self.client()
        late.select("INBOX", readonly=True)
        self.assertEqual(code(late, "RECENT"), 0)

        # Both hold the folder: the one that learns of the next message first has it recent.
        deliver()
        second.noop()
        self.assertEqual(code(second, "RECENT"), 1)
        first.noop()
        self.assertEqual(code(first, "RECENT"), 1)  # its own, still
        (newer,) = second.uid("SEARCH", "RECENT")[1][0].split()
        self.assertGreater(int(newer), int(new))
        self.assertEqual(first.uid("SEARCH", "RECENT")[1][0].split(), [new])


if __name__ == "__main__":
    exhost_harness.EXHOST, FIXTURES = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
