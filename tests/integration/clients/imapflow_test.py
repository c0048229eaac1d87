"""The IMAP front from a Node mail library, imapflow (installed by ./run with npm ci from this
folder's package-lock.json): imapflow_scenario.mjs makes a folder, appends, copies and moves,
IDLEs while this test delivers a message over SMTP, searches by the stamp keyword, deletes and
renames; its JSON report and the server's state read back over imaplib must agree.

usage: imapflow_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import client_harness as harness
from client_harness import SPECIAL_USE, message, mid

HERE = os.path.dirname(os.path.abspath(__file__))
ARGUMENTS = None


class Imapflow(unittest.TestCase):
    def setUp(self):
        if not os.path.isdir(os.path.join(HERE, "node_modules", "imapflow")):
            self.fail(f"imapflow is not installed: npm ci --prefix {HERE} (./run test does it)")
        self.server = harness.Server(*ARGUMENTS, prefix="lvimapflow")
        self.addCleanup(self.server.close)
        self.server.deliver_stamped(6)

    def run_scenario(self):
        """The script's report; the delivery it waits for in IDLE is made when it asks."""
        with tempfile.TemporaryFile("w+") as errors:
            script = subprocess.Popen(
                ["node", os.path.join(HERE, "imapflow_scenario.mjs"), str(self.server.port),
                 harness.USER, harness.PASSWORD],
                cwd=HERE, stdout=subprocess.PIPE, stderr=errors, text=True)
            lines = []
            try:
                for line in script.stdout:
                    lines.append(line)
                    if json.loads(line).get("idling"):
                        self.server.deliver([("sales@example.com", message(
                            "n1", "delivered during IDLE", "sales@example.com"))])
                code = script.wait(timeout=30)
            finally:
                if script.poll() is None:
                    script.kill()
                    script.wait()
                script.stdout.close()
            errors.seek(0)
            said = errors.read()
        self.assertTrue(lines, f"no report; standard error:\n{said}")
        report = json.loads(lines[-1])
        self.assertEqual(code, 0, f"imapflow failed at {report['steps'][-1]}: {report.get('error')}"
                         f"\n{said}")
        return report

    def test_a_node_mail_program_day(self):
        report = self.run_scenario()
        print(f"imapflow steps: {', '.join(report['steps'])}", flush=True)

        # Without these imapflow would fall back to polling, COPY and EXPUNGE, and searches.
        self.assertLessEqual({"IDLE", "MOVE", "UIDPLUS", "SPECIAL-USE"}, set(report["capabilities"]))
        # imapflow took the special-use attributes from the server, not guessed them from names.
        before = {folder["path"]: folder for folder in report["listBefore"]}
        self.assertEqual(sorted(before), sorted(["INBOX", *SPECIAL_USE]))
        for name, attribute in SPECIAL_USE.items():
            self.assertEqual((before[name]["specialUse"], before[name]["specialUseSource"]),
                             (attribute, "extension"), name)
        self.assertEqual(report["create"], {"path": "Node-made", "created": True})

        # APPENDUID told the new message's UID; an appended message is not stamped.
        appended = report["append"]
        self.assertEqual(appended["destination"], "Node-made")
        self.assertGreater(appended.get("uid", 0), 0, appended)
        made = {m["messageId"]: m for m in report["beforeDelete"]}
        self.assertEqual(set(made), {"<node-append@clients.test>", report["copied"]["messageId"]})
        self.assertEqual(sorted(made["<node-append@clients.test>"]["flags"]), ["\\Seen", "node-tag"])

        # COPYUID for COPY and MOVE; a copy keeps its stamp.
        copied, moved = report["copied"], report["moved"]
        self.assertEqual(list(report["copy"]["uidMap"]), [str(copied["uid"])], report["copy"])
        self.assertEqual(list(report["move"]["uidMap"]), [str(moved["uid"])], report["move"])
        self.assertIn("sales@example.com", made[copied["messageId"]]["flags"])
        self.assertEqual(made[copied["messageId"]]["uid"], report["copy"]["uidMap"][str(copied["uid"])])

        # IDLE learned of the message delivered meanwhile, stamped.
        self.assertEqual(report["exists"]["path"], "INBOX")
        self.assertEqual(report["exists"]["count"], len(report["inbox"]))  # one moved out, one in
        (delivered,) = report["delivered"]
        self.assertEqual(delivered["messageId"], mid("n1"))
        self.assertIn("sales@example.com", delivered["flags"])

        self.assertTrue(report["delete"])
        self.assertEqual([m["messageId"] for m in report["afterDelete"]], [copied["messageId"]])
        self.assertEqual(report["rename"], {"path": "Node-made", "newPath": "Node-renamed"})
        self.assertEqual(sorted(folder["path"] for folder in report["listAfter"]),
                         sorted(["INBOX", "Node-renamed", *SPECIAL_USE]))

        # The server's state, read back over imaplib.
        state = harness.server_state(self.server)
        self.assertEqual(sorted(state), sorted(["INBOX", "Node-renamed", *SPECIAL_USE]))
        inbox = {message_id: (uid, flags) for uid, flags, message_id in state["INBOX"][1]}
        expected_inbox = [mid(f"m{n}") for n in range(6) if mid(f"m{n}") != moved["messageId"]]
        self.assertEqual(sorted(inbox), sorted(expected_inbox + [mid("n1")]))
        # The search found exactly the Inbox's messages stamped sales@example.com.
        self.assertEqual(sorted(report["search"]),
                         sorted(uid for uid, flags in inbox.values() if "sales@example.com" in flags))
        self.assertIn(delivered["uid"], report["search"])
        # The renamed folder kept its UIDVALIDITY and the copy its UID; the move kept the stamp.
        validity, renamed = state["Node-renamed"]
        self.assertEqual(str(validity), report["append"]["uidValidity"])
        ((uid, flags, message_id),) = renamed
        self.assertEqual((uid, message_id), (made[copied["messageId"]]["uid"], copied["messageId"]))
        self.assertIn("sales@example.com", flags)
        ((uid, flags, message_id),) = state["Archive"][1]
        self.assertEqual((uid, message_id),
                         (report["move"]["uidMap"][str(moved["uid"])], moved["messageId"]))
        self.assertIn("alice.smith@example.com", flags)
        for name in SPECIAL_USE:
            if name != "Archive":
                self.assertEqual(state[name][1], [], name)


if __name__ == "__main__":
    ARGUMENTS = sys.argv[1:4]
    if shutil.which("node") is None:
        harness.skip("node is not installed: the imapflow test needs Node.js 20 or later")
    unittest.main(argv=sys.argv[:1], verbosity=2)
