"""What an idling IMAP client sees of new mail, from Python's smtplib and a raw IMAP socket.

latency IMAP_PORT SMTP_PORT USER PASSWORD RECIPIENT COUNT
    One session idles on the Inbox; COUNT messages are sent over SMTP one after another, and
    for each the time from the SMTP server's 250 (sendmail returning) to the idling session's
    "* n EXISTS" is taken. Prints the median, the 99th percentile and the largest, in seconds.
sessions IMAP_PORT USER PASSWORD COUNT SECONDS
    Opens COUNT sessions, each logged in and idling on the Inbox; prints "ready", holds them
    SECONDS seconds, prints "done" and logs them out (the caller measures the server meanwhile).
"""

import smtplib
import socket
import statistics
import sys
import time

MESSAGE = (b"From: sender@partner.example.org\r\nTo: {to}\r\nSubject: Idle bench\r\n"
           b"Message-ID: <{n}@partner.example.org>\r\n\r\nHello.\r\n")


class Idler:
    def __init__(self, port, user, password):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.file = self.sock.makefile("rb")
        self.expect(b"* OK")
        self.sock.sendall(f"a LOGIN {user} {password}\r\nb SELECT INBOX\r\n".encode())
        self.until(b"b ")
        self.sock.sendall(b"c IDLE\r\n")
        self.expect(b"+ ")

    def expect(self, start):
        line = self.file.readline()
        if not line.startswith(start):
            raise SystemExit(f"expected {start!r}, got {line!r}")

    def until(self, start):
        while True:
            line = self.file.readline()
            if not line:
                raise SystemExit("the server closed the session")
            if line.startswith(start):
                return line

    def close(self):
        try:
            self.sock.sendall(b"DONE\r\nz LOGOUT\r\n")
        except OSError:
            pass
        self.sock.close()


def latency(imap_port, smtp_port, user, password, recipient, count):
    idler = Idler(imap_port, user, password)
    smtp = smtplib.SMTP("127.0.0.1", smtp_port)
    waits = []
    for n in range(count):
        message = MESSAGE.replace(b"{to}", recipient.encode()).replace(b"{n}", str(n).encode())
        smtp.sendmail("sender@partner.example.org", [recipient], message)
        sent = time.perf_counter()
        while not idler.until(b"* ").rstrip().endswith(b"EXISTS"):
            pass
        waits.append(time.perf_counter() - sent)
    smtp.quit()
    idler.close()
    waits.sort()
    p99 = waits[min(len(waits) - 1, int(len(waits) * 0.99))]
    print(f"{statistics.median(waits):.6f} {p99:.6f} {waits[-1]:.6f}")


def sessions(port, user, password, count, seconds):
    idlers = [Idler(port, user, password) for _ in range(count)]
    print("ready", flush=True)
    time.sleep(seconds)
    print("done", flush=True)
    for idler in idlers:
        idler.close()


def main(argv):
    if len(argv) == 8 and argv[1] == "latency":
        latency(int(argv[2]), int(argv[3]), argv[4], argv[5], argv[6], int(argv[7]))
    elif len(argv) == 7 and argv[1] == "sessions":
        sessions(int(argv[2]), argv[3], argv[4], int(argv[5]), float(argv[6]))
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
