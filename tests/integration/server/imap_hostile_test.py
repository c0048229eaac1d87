"""The IMAP front against clients and a directory that do not play along, with a real "exhost
imap". A sanitizer's allocator holds memory of its own: a sanitized build is not held to the figure.

usage: imap_hostile_test.py EXHOST FIXTURES_DIR [sanitized]
"""

import base64
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

import exhost_harness
from exhost_harness import ImapServer, exhost, reply

FIXTURES = None
SANITIZED = False
PASSWORD = "hostile-7"
LOGIN = f"a LOGIN alice {PASSWORD}\r\n".encode()
MESSAGES = 25
MESSAGE_SIZE = 400 * 1024
CLIENTS = 50
PEAK_LIMIT_MB = 200
# The old server grew by gigabytes; the test stops it well before that.
SAFETY_LIMIT_MB = 800
SANITIZED_SAFETY_LIMIT_MB = 3000


def memory_mb(pid, field):
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        return int(re.search(rf"^{field}:\s+(\d+) kB", status.read(), re.MULTILINE).group(1)) / 1024


def stop_and_wait(pid):
    """SIGSTOP, and wait until every thread has stopped: until then one may still answer."""
    os.kill(pid, signal.SIGSTOP)
    tasks = f"/proc/{pid}/task"
    while True:
        states = []
        for task in os.listdir(tasks):
            with open(f"{tasks}/{task}/stat", encoding="ascii") as stat:
                states.append(stat.read().rsplit(") ", 1)[1][0])
        if all(state == "T" for state in states):
            return
        time.sleep(0.001)


class HostileClients(exhost_harness.ServerFolderTests):
    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvhostile", FIXTURES, PASSWORD, 4)
        line = "x" * 78 + "\r\n"
        files = []
        for n in range(MESSAGES):
            path = os.path.join(cls.root, f"big{n}.eml")
            with open(path, "w", encoding="ascii", newline="") as message:
                message.write(f"Subject: big {n}\r\nTo: alice@example.com\r\n\r\n")
                message.write(line * (MESSAGE_SIZE // len(line)))
            files.append(path)
        exhost("deliver", "--rcpt", "alice@example.com", *files)

    def setUp(self):
        if exhost_harness.run("directory", "status").returncode == 3:
            exhost("directory", "start")

    def serve(self, *options):
        server = ImapServer("--root", self.root, *options)
        self.addCleanup(server.stop)
        return server

    def test_directory_down_during_authenticate_fails_that_login_alone(self):
        server = self.serve()
        connection, reader = self.connect(server)
        exhost("directory", "stop")
        connection.sendall(b"a AUTHENTICATE PLAIN\r\n")
        self.assertEqual(reader.readline(), b"+ \r\n")
        connection.sendall(base64.b64encode(f"\0alice\0{PASSWORD}".encode()) + b"\r\n")
        answer = reader.readline()
        self.assertRegex(answer, rb"^a NO \[UNAVAILABLE\] Internal error, id [0-9A-F]{16}\r\n$")
        connection.sendall(b"b LOGIN alice x\r\n")
        self.assertRegex(reader.readline(), rb"^b NO \[UNAVAILABLE\] Internal error, id ")
        # The server is still there for everyone.
        other, other_reader = self.connect(server)
        other.sendall(b"c NOOP\r\n")
        self.assertEqual(other_reader.readline(), b"c OK NOOP completed\r\n")
        code, log = server.stop()
        self.assertEqual(code, 0, log)
        failure_id = answer.split()[-1].decode()
        (line,) = [line for line in log.splitlines() if f"id={failure_id}" in line]
        self.assertIn(" failure ", line)
        self.assertIn("detail=", line)
        self.assertNotIn(PASSWORD, log)

    def flood(self, connection, data, seconds=3):
        """Sends until the server stops reading (a send blocks for `seconds`) or all is sent."""
        connection.settimeout(seconds)
        try:
            for start in range(0, len(data), 1 << 20):
                connection.sendall(data[start:start + (1 << 20)])
        except (socket.timeout, ConnectionError):
            pass

    def test_clients_that_never_read_hold_little_memory(self):
        server = self.serve("--max-per-client", str(CLIENTS + 5))
        baseline = memory_mb(server.process.pid, "VmRSS")
        clients = []
        for _ in range(CLIENTS):
            connection, reader = self.connect(server)
            clients.append(connection)
            connection.sendall(LOGIN + b"s SELECT INBOX\r\n")
            reply(reader, b"s")
        overflow = threading.Event()
        safety_limit = SANITIZED_SAFETY_LIMIT_MB if SANITIZED else SAFETY_LIMIT_MB

        def watch():
            while not overflow.wait(0.05):
                if memory_mb(server.process.pid, "VmRSS") > safety_limit:
                    overflow.set()
                    server.process.kill()

        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        fetches = b"".join(b"f%d FETCH 21:25 BODY.PEEK[]\r\n" % n for n in range(100))
        capabilities = b"a CAPABILITY\r\n" * (100 * 1024 * 1024 // 14)
        floods = [threading.Thread(target=self.flood, args=(connection, fetches))
                  for connection in clients]
        for _ in range(2):
            connection, _ = self.connect(server)
            clients.append(connection)
            floods.append(threading.Thread(target=self.flood, args=(connection, capabilities)))
        for flood in floods:
            flood.start()
        for flood in floods:
            flood.join()
        time.sleep(2)  # what the server still had to do with the input it read
        self.assertFalse(overflow.is_set(), f"the server grew past {safety_limit} MB")
        peak = memory_mb(server.process.pid, "VmHWM")
        overflow.set()
        print(f"\npeak RSS {peak:.0f} MB (at start {baseline:.0f} MB) with {CLIENTS} clients "
              "pipelining FETCH without reading and 2 sending 100 MB of CAPABILITY",
              file=sys.stderr)
        if not SANITIZED:
            self.assertLess(peak, PEAK_LIMIT_MB)
        for connection in clients:
            connection.shutdown(socket.SHUT_RDWR)
        # The server still answers, at once.
        connection, reader = self.connect(server, timeout=5)
        connection.sendall(LOGIN)
        self.assertIn(b"a OK", reply(reader, b"a")[-1])

    def test_sigterm_ends_the_server_while_a_login_hangs_on_the_directory(self):
        server = self.serve("--lookup-timeout", "3")
        pid = int(re.search(r"pid (\d+)", exhost("directory", "status")).group(1))
        connection, reader = self.connect(server)
        stop_and_wait(pid)
        try:
            connection.sendall(LOGIN)
            time.sleep(0.5)
            started = time.monotonic()
            server.process.send_signal(signal.SIGTERM)
            try:
                server.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            took = time.monotonic() - started
        finally:
            os.kill(pid, signal.SIGCONT)
        print(f"\nexited {took:.1f} s after SIGTERM", file=sys.stderr)
        self.assertLess(took, 5)
        self.assertEqual(server.process.returncode, 0)
        self.assertEqual(reader.readline(), b"* BYE Server shutting down\r\n")


if __name__ == "__main__":
    exhost_harness.EXHOST, FIXTURES = sys.argv[1:3]
    SANITIZED = sys.argv[3:4] == ["sanitized"]
    unittest.main(argv=sys.argv[:1], verbosity=2)
