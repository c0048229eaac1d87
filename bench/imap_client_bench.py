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
           bodies        UID FETCH 1:* BODY.PEEK[] on a selected INBOX; a second line gives the
                         fastest fetch-all of the same runs, each run measuring both in turn
           append        1,000 APPENDs of 4 KB messages, one command each, into a new folder
           move          UID MOVE of 1,000 messages from INBOX to "Moved" (moved back after)
           partial       UID FETCH 1 BODY.PEEK[]<0.65536> in the folder "Large"
           section       UID FETCH 2 BODY.PEEK[2] in the folder "Large"
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

ENVELOPES = "(UID FLAGS RFC822.SIZE ENVELOPE)"


def timed(call):
    start = time.perf_counter()
    typ, data = call()
    elapsed = time.perf_counter() - start
    if typ != "OK":
        raise SystemExit(f"failed: {data}")
    return elapsed, data


def message_of(size, i):
    """A message of `size` octets, like a 4 KB mail a client saves into its Sent folder."""
    text = (f"From: Owner <owner@example.com>\r\nTo: friend{i}@partner.example.org\r\n"
            f"Subject: Appended {i}\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\n")
    line = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.\r\n"
    while len(text) + len(line) <= size:
        text += line
    return (text + "x" * (size - len(text) - 2) + "\r\n").encode()


def literal_size(data):
    """The size of the first literal of a FETCH answer."""
    return sum(len(part[1]) for part in data if isinstance(part, tuple))


def writing_runs(client, operation, runs):
    best = None
    if operation == "append":
        messages = [message_of(4096, i) for i in range(1000)]
        for run in range(runs):
            folder = f"Appended{run}"
            client.create(folder)
            start = time.perf_counter()
            for message in messages:
                typ, data = client.append(folder, None, None, message)
                if typ != "OK":
                    raise SystemExit(f"append failed: {data}")
            elapsed = time.perf_counter() - start
            client.delete(folder)
            best = elapsed if best is None else min(best, elapsed)
        return best
    client.create("Moved")
    for _ in range(runs):
        client.select("INBOX")
        uids = client.uid("SEARCH", "ALL")[1][0].split()[:1000]
        elapsed, data = timed(lambda: client.uid("MOVE", b",".join(uids).decode(), "Moved"))
        client.select("Moved")
        client.uid("MOVE", "1:*", "INBOX")
        best = elapsed if best is None else min(best, elapsed)
    return best


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
    elif operation in ("append", "move"):
        client = connect(port)
        client.login(user, password)
        best = writing_runs(client, operation, runs)
        client.logout()
    elif operation in ("partial", "section"):
        client = connect(port)
        client.login(user, password)
        client.select("Large", readonly=True)
        item = "BODY.PEEK[]<0.65536>" if operation == "partial" else "BODY.PEEK[2]"
        uid = "1" if operation == "partial" else "2"
        for _ in range(runs):
            elapsed, data = timed(lambda: client.uid("FETCH", uid, f"({item})"))
            best = elapsed if best is None else min(best, elapsed)
        print(f"octets {literal_size(data)}", file=sys.stderr)
        client.logout()
    elif operation == "bodies":
        client = connect(port)
        client.login(user, password)
        client.select("INBOX", readonly=True)
        envelopes = None
        for _ in range(runs):
            elapsed, _ = timed(lambda: client.uid("FETCH", "1:*", ENVELOPES))
            envelopes = elapsed if envelopes is None else min(envelopes, elapsed)
            elapsed, data = timed(lambda: client.uid("FETCH", "1:*", "(BODY.PEEK[])"))
            best = elapsed if best is None else min(best, elapsed)
        print(f"messages {sum(isinstance(part, tuple) for part in data)}, "
              f"octets {literal_size(data)}", file=sys.stderr)
        client.logout()
        print(f"{best:.6f}")
        print(f"{envelopes:.6f}")
        return
    else:
        client = connect(port)
        client.login(user, password)
        client.select("INBOX", readonly=True)
        for _ in range(runs):
            start = time.perf_counter()
            if operation == "fetch-all":
                typ, data = client.uid("FETCH", "1:*", ENVELOPES)
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
