"""Logs in to an IMAP server with Python's imaplib, as any mail client would, and prints what the
client sees of the Inbox: for each message its UID, subject, flags and keywords, then for each of
the given addresses what SEARCH KEYWORD returns.

With --tls CERTIFICATE the port speaks implicit TLS (IMAPS), the server's certificate checked
against that file.

usage: imap_report.py [--tls CERTIFICATE] HOST PORT USER PASSWORD ADDRESS...
"""

import email.header
import imaplib
import re
import ssl
import sys


def subject_of(header_bytes):
    text = header_bytes.decode("utf-8", "replace")
    match = re.search(r"^Subject:(.*(?:\r\n[ \t].*)*)", text, re.MULTILINE | re.IGNORECASE)
    if not match:
        return ""
    raw = re.sub(r"\r\n[ \t]", " ", match.group(1)).strip()
    return str(email.header.make_header(email.header.decode_header(raw)))


def main(argv):
    certificate = None
    if len(argv) > 2 and argv[1] == "--tls":
        certificate, argv = argv[2], argv[2:]
    if len(argv) < 6:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    host, port, user, password, addresses = argv[1], int(argv[2]), argv[3], argv[4], argv[5:]
    if certificate:
        context = ssl.create_default_context(cafile=certificate)
        context.check_hostname = False  # it names the server, not the loopback address
        client = imaplib.IMAP4_SSL(host, port, ssl_context=context)
        print(f"IMAPS: {client.sock.version()} {client.sock.cipher()[0]}")
    else:
        client = imaplib.IMAP4(host, port)
    client.login(user, password)
    client.select("INBOX", readonly=True)
    typ, data = client.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    if typ != "OK":
        raise SystemExit(f"FETCH failed: {data}")
    print(f"{'UID':>4}  {'subject':<40}  flags and keywords")
    for part in data:
        if not isinstance(part, tuple):
            continue
        head, header = part
        uid = re.search(rb"UID (\d+)", head).group(1).decode()
        flags = re.search(rb"FLAGS \(([^)]*)\)", head).group(1).decode() or "(none)"
        print(f"{uid:>4}  {subject_of(header)[:40]:<40}  {flags}")
    print()
    for address in addresses:
        typ, found = client.uid("SEARCH", "KEYWORD", address)
        print(f"SEARCH KEYWORD {address}: {found[0].decode() or '(none)'}")
    client.logout()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
