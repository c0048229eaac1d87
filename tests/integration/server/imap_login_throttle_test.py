"""Password guessing against a real `exhost imap`: 32 connections from one address try wrong
passwords for Alice as fast as the server answers. The server checks at most its tries per
minute from that address (plus a small burst), however many connections it opens, while Alice,
logging in from another address (127.0.0.2, which Linux loopback answers) during the attack,
gets in at once. SIGTERM still stops the server within seconds with throttled logins waiting.
Alice's addresses and logon name count as one account: her login under one clears what her
address tried under the others.

usage: imap_login_throttle_test.py EXHOST FIXTURES_DIR [SECONDS [TRIES_PER_MINUTE]]
(defaults 10 and 60: a minute's rate measured over ten seconds; the report prints the figure)
"""

import re
import signal
import socket
import sys
import threading
import time
import unittest

import exhost_harness
from exhost_harness import ImapServer, reply

FIXTURES = None
SECONDS = 10.0
TRIES_PER_MINUTE = 60
PASSWORD = "wonderland-7"
CONNECTIONS = 32
# Tries the throttle lets through before its pause reaches 60 s / tries per minute: three at
# once, then three with growing pauses; one more for a try that straddles the window's edge.
BURST = 3 + 3 + 1


class Attacker(threading.Thread):
    """One connection after another from 127.0.0.1, each trying wrong passwords one after the
    other until the server ends it (after three); remembers when each refusal arrived. Every
    refusal is one password checked, answered after the session's pause for a failure."""

    def __init__(self, port, number, stop):
        super().__init__(daemon=True)
        self.port, self.number, self.stop = port, number, stop
        self.refusals = []

    def run(self):
        tries = 0
        while not self.stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=120) as connection:
                    reader = connection.makefile("rb")
                    if not reader.readline().startswith(b"* OK"):
                        time.sleep(0.2)  # turned away: too many sessions
                        continue
                    while not self.stop.is_set():
                        tries += 1
                        tag = b"a%d" % tries
                        guess = b"guess-%d-%d" % (self.number, tries)
                        connection.sendall(tag + b" LOGIN alice " + guess + b"\r\n")
                        line = reader.readline()
                        while line and not line.startswith(tag + b" "):
                            line = reader.readline()
                        if not line.startswith(tag + b" NO [AUTHENTICATIONFAILED]"):
                            break  # the session ended
                        self.refusals.append(time.monotonic())
            except OSError:
                pass


def login_from(address, server, user, password):
    """Seconds until the server answered the LOGIN, and its tagged answer."""
    connection, reader = server.connect(timeout=60, source=address)
    with connection, reader:
        started = time.monotonic()
        connection.sendall(f"o LOGIN {user} {password}\r\n".encode())
        line = reply(reader, b"o")[-1]
        elapsed = time.monotonic() - started
        connection.sendall(b"z LOGOUT\r\n")
        return elapsed, line


class LoginThrottle(exhost_harness.ServerFolderTests):
    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvthrottle", FIXTURES, PASSWORD, 2)
        cls.server = ImapServer(
            "--root", cls.root, "--log", "stderr",
            "--login-tries-per-minute", str(TRIES_PER_MINUTE),
            # The attack's connections all come from one address: only the throttle holds them.
            "--max-per-client", "100")

    @classmethod
    def tearDownClass(cls):
        if cls.server.process.poll() is None:
            cls.server.process.kill()
        super().tearDownClass()

    def test_guessing_is_bounded_per_address_and_the_owner_gets_in_from_elsewhere(self):
        stop = threading.Event()
        attackers = [Attacker(self.server.port, n, stop) for n in range(CONNECTIONS)]
        started = time.monotonic()
        for attacker in attackers:
            attacker.start()
        time.sleep(SECONDS / 2)
        owner_wait, owner_answer = login_from("127.0.0.2", self.server, "alice", PASSWORD)
        time.sleep(max(0.0, started + SECONDS - time.monotonic()))
        ended = time.monotonic()
        refusals = sorted(t for attacker in attackers for t in attacker.refusals
                          if started <= t <= ended)

        # Throttled logins are still waiting: SIGTERM must not wait for them.
        self.server.process.send_signal(signal.SIGTERM)
        stopping = time.monotonic()
        code = self.server.process.wait(timeout=30)
        stop_seconds = time.monotonic() - stopping
        stop.set()
        for attacker in attackers:
            attacker.join(timeout=30)

        elapsed = ended - started
        per_minute = len(refusals) * 60 / elapsed
        print(f"\n{len(refusals)} wrong passwords answered in {elapsed:.1f} s over {CONNECTIONS} "
              f"connections from one address ({per_minute:.0f} a minute; the limit is "
              f"{TRIES_PER_MINUTE} a minute); the owner from 127.0.0.2 waited {owner_wait:.3f} s; "
              f"SIGTERM took {stop_seconds:.2f} s", file=sys.stderr)

        self.assertTrue(owner_answer.startswith(b"o OK"), owner_answer)
        self.assertLess(owner_wait, 1.0)
        self.assertLessEqual(len(refusals), elapsed * TRIES_PER_MINUTE / 60 + BURST)
        self.assertGreater(len(refusals), 0, "the attack never got an answer")
        self.assertEqual(code, 0)
        self.assertLess(stop_seconds, 5)

        _, log = self.server.stop()
        self.assertRegex(log, r"login-throttled session=\w+ client=127\.0\.0\.1 user=alice ms=\d+")
        self.assertNotRegex(log, r"login-throttled session=\w+ client=127\.0\.0\.2")
        self.assertNotIn("guess-", log)  # no password in the log


class AccountNames(exhost_harness.ServerFolderTests):
    """Alice's addresses and her logon name are one account's names to the throttle."""

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvnames", FIXTURES, PASSWORD, 2)
        # A long pause (30 s a try once the free ones are gone), so that a try that is paced
        # waits longer than the refusal of the one before takes.
        cls.server = ImapServer("--root", cls.root, "--log", "stderr",
                                "--login-tries-per-minute", "2")

    def test_her_login_clears_what_her_address_tried_under_her_other_names(self):
        for name in ["sales@example.com", "alice.smith@example.com", "sales@example.com"]:
            self.assertIn(b"o NO [AUTHENTICATIONFAILED]", login_from("127.0.0.1", self.server,
                                                                      name, "wrong")[1])
        for _ in range(2):
            self.assertTrue(login_from("127.0.0.1", self.server, "alice", PASSWORD)[1]
                            .startswith(b"o OK"))
        _, log = self.server.stop()
        # Her first login waited for the address's turn; the second did not.
        self.assertEqual(len(re.findall(r"login-throttled .* user=alice ", log)), 1, log)


if __name__ == "__main__":
    exhost_harness.EXHOST, FIXTURES = sys.argv[1:3]
    if len(sys.argv) > 3:
        SECONDS = float(sys.argv[3])
    if len(sys.argv) > 4:
        TRIES_PER_MINUTE = int(sys.argv[4])
    unittest.main(argv=sys.argv[:1], verbosity=2)
