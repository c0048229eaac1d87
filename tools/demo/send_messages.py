"""Sends message files to an SMTP server (or with --lmtp an LMTP server, whose HOST may be the
path of a unix socket, PORT then being ignored) in one session, one transaction per file, in the
order given, and prints the server's reply to each. With --starttls CERTIFICATE the session is
encrypted first, the server's certificate checked against that file; with --login USER PASSWORD
it then logs in (SMTP AUTH, as a mail client does on the submission port) and sends as USER.
Exits with 1 at the first message not accepted.

usage: send_messages.py [--lmtp] [--starttls CERTIFICATE] [--login USER PASSWORD]
                        HOST PORT RECIPIENT FILE...
"""

import re
import smtplib
import ssl
import sys


def main(argv):
    lmtp = len(argv) > 1 and argv[1] == "--lmtp"
    if lmtp:
        argv = argv[1:]
    certificate = None
    if len(argv) > 2 and argv[1] == "--starttls":
        certificate, argv = argv[2], argv[2:]
    login = None
    if len(argv) > 3 and argv[1] == "--login":
        login, argv = (argv[2], argv[3]), argv[3:]
    if len(argv) < 5:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    host, port, recipient, files = argv[1], int(argv[2]), argv[3], argv[4:]
    client = smtplib.LMTP if lmtp else smtplib.SMTP
    with client(host, port) as server:
        server.ehlo("lorvanta-demo")
        if certificate:
            context = ssl.create_default_context(cafile=certificate)
            context.check_hostname = False  # it names the server, not the loopback address
            server.starttls(context=context)
            print(f"STARTTLS: {server.sock.version()} {server.sock.cipher()[0]}")
            server.ehlo("lorvanta-demo")
        if login:
            server.login(*login)
            print(f"logged in as {login[0]}")
        for name in files:
            with open(name, "rb") as message_file:
                # smtplib sends bytes as they are; SMTP wants CRLF line ends.
                message = re.sub(rb"\r?\n", b"\r\n", message_file.read())
            try:
                server.sendmail(login[0] if login else "demo-sender@partner.example.org",
                                [recipient], message)
            except smtplib.SMTPException as error:
                print(f"{name}: not accepted: {error}", file=sys.stderr)
                return 1
            print(f"sent {name} to {recipient}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
