"""Logs in to an IMAP server with Python's imaplib, as any mail client would, and prints what the
client sees of the Inbox: for each message its UID, subject, flags and keywords, then for each of
the given addresses what SEARCH KEYWORD returns. Last, it moves the first message stamped with the
first address to Archive (UID MOVE) and shows it there, its stamp kept.

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


def show_folder(client, folder):
    typ, data = client.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
    if typ != "OK":
        raise SystemExit(f"FETCH in {folder} failed: {data}")
    print(f"{folder}:")
    print(f"{'UID':>4}  {'subject':<40}  flags and keywords")
    for part in data:
        if not isinstance(part, tuple):
            continue
        head, header = part
        uid = re.search(rb"UID (\d+)", head).group(1).decode()
        flags = re.search(rb"FLAGS \(([^)]*)\)", head).group(1).decode() or "(none)"
        print(f"{uid:>4}  {subject_of(header)[:40]:<40}  {flags}")


def move_to_archive(client, address):
    client.select("INBOX")
    typ, found = client.uid("SEARCH", "KEYWORD", address)
    uids = found[0].split() if typ == "OK" else []
    if not uids:
        raise SystemExit(f"no message stamped {address} to move")
    typ, data = client.uid("MOVE", uids[0], "Archive")
    if typ != "OK":
        raise SystemExit(f"UID MOVE failed: {data}")
    # MOVE tells the new UID in an untagged OK before the EXPUNGE (RFC 6851).
    _, copyuid = client.response("COPYUID")
    told = f" [COPYUID {copyuid[0].decode()}]" if copyuid and copyuid[0] else ""
    print(f"UID MOVE {uids[0].decode()} Archive: OK{told}")
    client.select("Archive", readonly=True)
    show_folder(client, "Archive")


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
    show_folder(client, "INBOX")
    print()
    for address in addresses:
        typ, found = client.uid("SEARCH", "KEYWORD", address)
        print(f"SEARCH KEYWORD {address}: {found[0].decode() or '(none)'}")
    print()
    move_to_archive(client, addresses[0])
    client.logout()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
