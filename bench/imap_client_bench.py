"""Times one IMAP operation from Python's imaplib, as a mail client on the same machine sees it,
and prints the fastest of RUNS runs in seconds. The client's own work (parsing the responses)
is part of the figure.

usage: imap_client_bench.py PORT USER PASSWORD OPERATION RUNS
PORT: a port number for plain text, or tls:PORT for implicit TLS (IMAPS)
OPERATION: fetch-all     UID FETCH 1:* (UID FLAGS RFC822.SIZE ENVELOPE) on a selected INBOX
           search        UID SEARCH KEYWORD x on a selected INBOX
           login-select  connect, LOGIN, SELECT INBOX, LOGOUT
           select        SELECT INBOX (read-only) after one LOGIN
           handshake     connect and read the greeting (over TLS: a full handshake each time)
"""

import imaplib
import ssl
import sys
import time

TLS = None  # the client's context when PORT is tls:PORT


def connect(port):
    if TLS is None:
        return imaplib.IMAP4("127.0.0.1", port)
    return imaplib.IMAP4_SSL("127.0.0.1", port, ssl_context=TLS)

# SELECT of a folder with a million keywords answers with lines of megabytes.
imaplib._MAXLINE = 1 << 30


def main(argv):
    global TLS
    if argv[1].startswith("tls:"):
        # The bench's own self-signed certificate: the cost of encryption is measured, not trust.
        TLS = ssl.create_default_context()
        TLS.check_hostname = False
        TLS.verify_mode = ssl.CERT_NONE
        argv[1] = argv[1][4:]
    port, user, password, operation, runs = int(argv[1]), argv[2], argv[3], argv[4], int(argv[5])
    best = None
    if operation == "handshake":
        for _ in range(runs):
            start = time.perf_counter()
            client = connect(port)
            elapsed = time.perf_counter() - start
            client.shutdown()
            best = elapsed if best is None else min(best, elapsed)
    elif operation == "login-select":
        for _ in range(runs):
            start = time.perf_counter()
            client = connect(port)
            client.login(user, password)
            client.select("INBOX")
            client.logout()
            elapsed = time.perf_counter() - start
            best = elapsed if best is None else min(best, elapsed)
    elif operation == "select":
        client = connect(port)
        client.login(user, password)
        for _ in range(runs):
            start = time.perf_counter()
            typ, data = client.select("INBOX", readonly=True)
            elapsed = time.perf_counter() - start
            if typ != "OK":
                raise SystemExit(f"select failed: {data}")
            best = elapsed if best is None else min(best, elapsed)
        flags = client.response("FLAGS")[1][0]
        print(f"flags line {len(flags)} bytes", file=sys.stderr)
        client.logout()
    else:
        client = connect(port)
        client.login(user, password)
        client.select("INBOX", readonly=True)
        for _ in range(runs):
            start = time.perf_counter()
            if operation == "fetch-all":
                typ, data = client.uid("FETCH", "1:*", "(UID FLAGS RFC822.SIZE ENVELOPE)")
            else:
                typ, data = client.uid("SEARCH", "KEYWORD", "x")
            elapsed = time.perf_counter() - start
            if typ != "OK":
                raise SystemExit(f"{operation} failed: {data}")
            best = elapsed if best is None else min(best, elapsed)
        if operation == "fetch-all":
            print(f"messages {len(data)}", file=sys.stderr)
        else:
            print(f"found {len(data[0].split())}", file=sys.stderr)
        client.logout()
    print(f"{best:.6f}")


if __name__ == "__main__":
    main(sys.argv)
