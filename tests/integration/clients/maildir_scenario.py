"""One scenario for the clients that keep a Maildir in step with the server both ways (mbsync,
offlineimap): a first sync of the delivered mail; then on each side a new folder, a message
uploaded, one moved to another folder, one flagged and one deleted, and a second sync; then a
third sync that must change nothing. After each: the client's exit code 0, the same folders and
messages (by Message-ID, none lost, none twice) on both sides, the flags agreeing, and every
stamped message still carrying its stamp on the server.

A subclass names the client (CLIENT), writes its configuration (configure) and runs one sync
(sync_command).
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import client_harness as harness
from client_harness import ADDRESSES, SPECIAL_USE, SYSTEM_FLAGS, message, mid, ok

ARGUMENTS = None  # EXHOST LORVANTA_DLL FIXTURES_DIR, set by main()


class MaildirScenario(unittest.TestCase):
    CLIENT = None

    def setUp(self):
        if shutil.which(self.CLIENT) is None:
            self.fail(f"{self.CLIENT} is not installed (./run deps installs it)")
        self.server = harness.Server(*ARGUMENTS, prefix=f"lv{self.CLIENT[:6]}")
        self.addCleanup(self.server.close)
        self.work = tempfile.mkdtemp(prefix=f"lv{self.CLIENT[:6]}-client", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.maildir = os.path.join(self.work, "Mail")
        os.makedirs(self.maildir)
        self.configure()
        self.step = "delivery"
        self.stamps = self.server.deliver_stamped(8)
        keywords = harness.keywords_by_message_id(harness.server_state(self.server))
        self.assertEqual({key: {k for k in value if k in ADDRESSES} for key, value in keywords.items()},
                         {key: {value} for key, value in self.stamps.items()},
                         "the sink did not stamp the delivered mail")
        # Messages whose server copy the client made anew: an upload is no delivery, so unstamped.
        self.reuploaded = set()

    def sync(self):
        started = time.monotonic()
        result = subprocess.run(self.sync_command(), capture_output=True, text=True, timeout=60,
                                cwd=self.work, env={**os.environ, "HOME": self.work})
        print(f"{self.CLIENT}, {self.step}: exit {result.returncode} after "
              f"{time.monotonic() - started:.1f} s", flush=True)
        if result.returncode != 0:
            self.fail(f"{self.step}: {self.CLIENT} exited {result.returncode}\n"
                      f"--- stdout\n{result.stdout[-6000:]}\n--- stderr\n{result.stderr[-6000:]}")

    def check_agree(self, expected, required_flags):
        """Both sides hold exactly `expected` ({folder: Message-IDs}), each message once, with
        the same flags, the ones in `required_flags` among them; the stamps are where they
        belong. The two states, for comparing with later ones."""
        server = harness.server_state(self.server)
        local = harness.maildir_state(self.maildir)
        step = self.step
        self.assertEqual(sorted(server), sorted(expected), f"{step}: the server's folders")
        self.assertEqual(sorted(local), sorted(expected), f"{step}: the Maildir's folders")
        for folder, message_ids in expected.items():
            remote, doubled = harness.by_message_id(server[folder][1])
            self.assertEqual(doubled, [], f"{step}: twice on the server in {folder}")
            near, doubled = harness.by_message_id(local[folder])
            self.assertEqual(doubled, [], f"{step}: twice in the Maildir's {folder}")
            self.assertEqual(sorted(remote), sorted(message_ids), f"{step}: server's {folder}")
            self.assertEqual(sorted(near), sorted(message_ids), f"{step}: Maildir's {folder}")
            for message_id, flags in remote.items():
                self.assertEqual(set(flags) & SYSTEM_FLAGS, set(near[message_id]),
                                 f"{step}: flags of {message_id} in {folder}")
                self.assertLessEqual(required_flags.get(message_id, set()), set(flags),
                                     f"{step}: flags of {message_id} in {folder}")
        keywords = harness.keywords_by_message_id(server)
        for message_id, stamp in self.stamps.items():
            if message_id in self.reuploaded:
                self.assertNotIn(stamp, keywords.get(message_id, ()),
                                 f"{step}: {message_id} was uploaded by the client, never delivered")
            elif message_id in keywords:
                self.assertIn(stamp, keywords[message_id], f"{step}: {message_id} lost its stamp")
        return server, local

    def test_two_way_sync_then_a_sync_with_nothing_to_do(self):
        self.step = "the first sync"
        self.sync()
        expected = {"INBOX": [mid(f"m{n}") for n in range(8)], **{name: [] for name in SPECIAL_USE}}
        self.check_agree(expected, {})

        self.step = "changes on the server (imaplib)"
        client = self.server.client()
        ok(client.create("Server-made"))
        ok(client.append("Server-made", "(\\Seen)", None,
                         message("s1", "appended on the server", ADDRESSES[0]).as_bytes()))
        ok(client.select("INBOX"))
        uids = {message_id: uid for uid, _, message_id in harness.fetched_messages(client)}
        ok(client.uid("MOVE", str(uids[mid("m0")]), "Archive"))
        ok(client.uid("STORE", str(uids[mid("m1")]), "+FLAGS", "(\\Flagged)"))
        ok(client.uid("STORE", str(uids[mid("m2")]), "+FLAGS", "(\\Deleted)"))
        ok(client.expunge())
        client.logout()

        self.step = "changes in the Maildir"
        inbox = os.path.join(self.maildir, "INBOX")
        archive = os.path.join(self.maildir, "Archive")
        harness.maildir_file(os.path.join(self.maildir, "Local-made"),
                             message("l1", "written into the Maildir", ADDRESSES[0]))
        harness.maildir_file(inbox, message("l2", "written into the Inbox", ADDRESSES[0]), "S")
        harness.move_maildir_file(harness.find_file(inbox, mid("m3")), archive)
        self.reuploaded.add(mid("m3"))
        harness.add_maildir_flags(harness.find_file(inbox, mid("m4")), "F")
        os.unlink(harness.find_file(inbox, mid("m5")))

        self.step = "the second sync"
        self.sync()
        expected = {
            "INBOX": [mid(name) for name in ("m1", "m4", "m6", "m7", "l2")],
            "Archive": [mid("m0"), mid("m3")],
            "Server-made": [mid("s1")],
            "Local-made": [mid("l1")],
            **{name: [] for name in SPECIAL_USE if name != "Archive"},
        }
        required = {mid("m1"): {"\\Flagged"}, mid("m4"): {"\\Flagged"}, mid("s1"): {"\\Seen"},
                    mid("l2"): {"\\Seen"}}
        before = self.check_agree(expected, required)

        self.step = "the third sync"
        self.sync()
        after = self.check_agree(expected, required)
        self.assertEqual(after[0], before[0], "the third sync changed the server")
        self.assertEqual(after[1], before[1], "the third sync changed the Maildir")


def main(scenario):
    global ARGUMENTS
    ARGUMENTS = sys.argv[1:4]
    unittest.main(module=sys.modules[scenario.__module__], argv=sys.argv[:1], verbosity=2)
