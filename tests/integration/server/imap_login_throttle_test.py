"""Password guessing against a real `exhost imap`: 32 connections from one address try wrong
passwords for Alice as fast as the server answers. The server checks at most its tries per
minute from that address (plus a small burst), however many connections it opens, while Alice,
logging in from another address (127.0.0.2, which Linux loopback answers) during the attack,
gets in at once. SIGTERM still stops the server within seconds with throttled logins waiting.

usage: imap_login_throttle_test.py EXHOST FIXTURES_DIR [SECONDS [TRIES_PER_MINUTE]]
(defaults 10 and 60: a minute's rate measured over ten seconds; the report prints the figure)
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

EXHOST = FIXTURES = None
SECONDS = 10.0
TRIES_PER_MINUTE = 60
PASSWORD = "wonderland-7"
CONNECTIONS = 32
# Tries the throttle lets through before its pause reaches 60 s / tries per minute: three at
# once, then three with growing pauses; one more for a try that straddles the window's edge.
BURST = 3 + 3 + 1


def exhost(*args, stdin=None):
    result = subprocess.run([EXHOST, *args], input=stdin, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"exhost {' '.join(args)} failed: {result.stderr}")
    return result.stdout


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


def login_from(address, port, user, password):
    """Seconds until the server answered the LOGIN, and its tagged answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=60,
                                  source_address=(address, 0)) as connection:
        reader = connection.makefile("rb")
        assert reader.readline().startswith(b"* OK")
        started = time.monotonic()
        connection.sendall(f"o LOGIN {user} {password}\r\n".encode())
        line = reader.readline()
        while line and not line.startswith(b"o "):
            line = reader.readline()
        elapsed = time.monotonic() - started
        connection.sendall(b"z LOGOUT\r\n")
        return elapsed, line


class LoginThrottle(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="lvthrottle", dir="/tmp")
        os.environ["EXHOST_ROOT"] = cls.root
        exhost("init", "--force", "--domain", "example.com", "--users", "2")
        exhost("directory", "start")
        exhost("ldif", os.path.join(FIXTURES, "demo", "alice.ldif"))
        exhost("mailbox", "add", "alice")
        exhost("passwd", "alice", stdin=PASSWORD + "\n")
        cls.log = open(os.path.join(cls.root, "imap.log"), "w+", encoding="utf-8")
        cls.server = subprocess.Popen(
            [EXHOST, "imap", "--root", cls.root, "--listen", "127.0.0.1:0", "--log", "stderr",
             "--login-tries-per-minute", str(TRIES_PER_MINUTE)],
            stdout=subprocess.PIPE, stderr=cls.log, text=True)
        cls.port = int(cls.server.stdout.readline())

    @classmethod
    def tearDownClass(cls):
        if cls.server.poll() is None:
            cls.server.kill()
            cls.server.wait()
        cls.log.close()
        exhost("directory", "stop")
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_guessing_is_bounded_per_address_and_the_owner_gets_in_from_elsewhere(self):
        stop = threading.Event()
        attackers = [Attacker(self.port, n, stop) for n in range(CONNECTIONS)]
        started = time.monotonic()
        for attacker in attackers:
            attacker.start()
        time.sleep(SECONDS / 2)
        owner_wait, owner_answer = login_from("127.0.0.2", self.port, "alice", PASSWORD)
        time.sleep(max(0.0, started + SECONDS - time.monotonic()))
        ended = time.monotonic()
        refusals = sorted(t for attacker in attackers for t in attacker.refusals
                          if started <= t <= ended)

        # Throttled logins are still waiting: SIGTERM must not wait for them.
        self.server.send_signal(signal.SIGTERM)
        stopping = time.monotonic()
        code = self.server.wait(timeout=30)
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

        self.log.seek(0)
        log = self.log.read()
        self.assertRegex(log, r"login-throttled client=127\.0\.0\.1 user=alice ms=\d+")
        self.assertNotRegex(log, r"login-throttled client=127\.0\.0\.2")
        self.assertNotIn("guess-", log)  # no password in the log


if __name__ == "__main__":
    EXHOST, FIXTURES = sys.argv[1:3]
    if len(sys.argv) > 3:
        SECONDS = float(sys.argv[3])
    if len(sys.argv) > 4:
        TRIES_PER_MINUTE = int(sys.argv[4])
    unittest.main(argv=sys.argv[:1], verbosity=2)
