"""What the tests of real IMAP clients share: a private server folder with the sink registered on
Alice's Inbox, mail delivered to her addresses over "exhost smtp" (so that the sink stamps it),
"exhost imap" for the clients, and the two views the tests compare: the server's folders as
imaplib sees them, and a client's Maildir as it lies on disk.
"""

import email.parser
import email.utils
import imaplib
import os
import re
import smtplib
import sys
from email.message import EmailMessage

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))

import exhost_harness  # noqa: E402
from exhost_harness import ADDRESSES, SPECIAL_USE, ImapServer, listed, ok  # noqa: E402, F401

PASSWORD = "looking-glass-3"
USER = "alice@example.com"
# The flags a Maildir file name can carry, by their letter.
MAILDIR_FLAGS = {"D": "\\Draft", "F": "\\Flagged", "R": "\\Answered", "S": "\\Seen",
                 "T": "\\Deleted"}
SYSTEM_FLAGS = set(MAILDIR_FLAGS.values())
# ctest counts a test that exits with this as skipped (SKIP_RETURN_CODE).
SKIPPED = 77


def skip(reason):
    print(f"SKIPPED: {reason}", flush=True)
    sys.exit(SKIPPED)


def mid(name):
    """The Message-ID of message(name, ...)."""
    return f"<{name}@clients.test>"


def message(message_id, subject, to, date=None):
    mail = EmailMessage()
    mail["From"] = "Bob Partner <bob@partner.example>"
    mail["To"] = to
    mail["Subject"] = subject
    mail["Message-ID"] = mid(message_id)
    mail["Date"] = date or email.utils.formatdate(localtime=False)
    mail.set_content(f"{subject}\n\nThis is {message_id}.\n")
    return mail


class Server:
    """A server folder of its own with Alice, the sink on her Inbox, and "exhost imap" running;
    deliver() hands mail to "exhost smtp" started for it."""

    def __init__(self, exhost, dll, fixtures, prefix):
        exhost_harness.EXHOST = exhost
        self.root = exhost_harness.server_folder(prefix, fixtures, PASSWORD, 4, dll)
        self.imap = ImapServer("--root", self.root, "--max-per-client", "50")
        self.port = self.imap.port

    def deliver(self, mails):
        """Each (recipient, message) over SMTP, as an MTA in front would."""
        smtp = ImapServer("--root", self.root, command="smtp")
        try:
            with smtplib.SMTP("127.0.0.1", smtp.port, timeout=30) as client:
                for rcpt, mail in mails:
                    client.send_message(mail, from_addr="bob@partner.example", to_addrs=[rcpt])
        finally:
            code, log = smtp.stop()
            smtp.process.stderr.close()
            assert code == 0, log

    def deliver_stamped(self, count):
        """Messages m0, m1, ... each to one of Alice's addresses in turn, which the sink stamps on
        it; {Message-ID: that address}."""
        to = [ADDRESSES[n % 3] for n in range(count)]
        self.deliver([(to[n], message(f"m{n}", f"delivered {n}", to[n])) for n in range(count)])
        return {mid(f"m{n}"): to[n] for n in range(count)}

    def client(self):
        client = imaplib.IMAP4("127.0.0.1", self.port, timeout=30)
        client.login(USER, PASSWORD)
        return client

    def close(self):
        code, log = self.imap.stop()
        exhost_harness.remove_server_folder(self.root)
        assert code == 0, log


def fetched_messages(client):
    """[(uid, flags, Message-ID)] of the selected folder."""
    data = ok(client.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"))
    messages = []
    for index, part in enumerate(data):
        if not isinstance(part, tuple):
            continue
        # FLAGS may come before the header literal or after it, in the piece that follows.
        after = data[index + 1] if index + 1 < len(data) and isinstance(data[index + 1], bytes) else b""
        text = part[0] + after
        uid = int(re.search(rb"UID (\d+)", text).group(1))
        # \Recent tells which session saw a message first, not what the message is.
        flags = frozenset(re.search(rb"FLAGS \(([^)]*)\)", text).group(1).decode().split())
        flags -= {"\\Recent"}
        header = email.parser.BytesHeaderParser().parsebytes(part[1])
        messages.append((uid, flags, header["Message-ID"]))
    return messages


def server_state(server):
    """{folder: (UIDVALIDITY, [(uid, flags, Message-ID)])} of every folder LIST shows."""
    client = server.client()
    try:
        state = {}
        for name in listed(client):
            ok(client.select(f'"{name}"', readonly=True))
            validity = int(client.untagged_responses["UIDVALIDITY"][-1])
            state[name] = (validity, sorted(fetched_messages(client)))
        return state
    finally:
        client.logout()


def flag_letters(path):
    """The flag letters a Maildir file's name carries."""
    file = os.path.basename(path)
    return file.split(":2,", 1)[1] if ":2," in file else ""


def maildir_flags(path):
    """The IMAP flags the letters of a Maildir file's name stand for."""
    return frozenset(MAILDIR_FLAGS[letter] for letter in flag_letters(path) if letter in MAILDIR_FLAGS)


def maildir_files(folder):
    """[(path under the folder, Message-ID)] of the messages in a Maildir folder."""
    files = []
    for part in ("cur", "new"):
        for file in os.listdir(os.path.join(folder, part)):
            with open(os.path.join(folder, part, file), "rb") as opened:
                header = email.parser.BytesHeaderParser().parse(opened)
            files.append((f"{part}/{file}", header["Message-ID"]))
    return files


def maildir_state(root):
    """{folder: [(file name, flags, Message-ID)]} of every Maildir under root ("/" between the
    levels of a folder's name), with the flags its file name carries."""
    state = {}
    for directory, subdirectories, _ in os.walk(root):
        if {"cur", "new"} <= set(subdirectories):
            state[os.path.relpath(directory, root).replace(os.sep, "/")] = sorted(
                (file, maildir_flags(file), message_id) for file, message_id in maildir_files(directory))
    return state


def by_message_id(entries):
    """{Message-ID: flags (system flags only, keywords apart)} and the Message-IDs seen twice."""
    result, doubled = {}, []
    for _, flags, message_id in entries:
        if message_id in result:
            doubled.append(message_id)
        result[message_id] = frozenset(flags)
    return result, doubled


def keywords_by_message_id(state):
    """{Message-ID: keywords} over every folder of a server_state."""
    return {message_id: {flag for flag in flags if not flag.startswith("\\")}
            for _, messages in state.values() for _, flags, message_id in messages}


def maildir_file(folder, mail, flags=""):
    """Writes mail into the Maildir folder as a mail program would (tmp, then cur)."""
    for part in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(folder, part), exist_ok=True)
    name = f"{mail['Message-ID'].strip('<>').split('@')[0]}.{os.getpid()}.lorvanta"
    tmp = os.path.join(folder, "tmp", name)
    with open(tmp, "wb") as written:
        written.write(mail.as_bytes())
    os.rename(tmp, os.path.join(folder, "cur", f"{name}:2,{flags}"))


def find_file(folder, message_id):
    """The path of the message with this Message-ID in a Maildir folder."""
    paths = [os.path.join(folder, file) for file, found in maildir_files(folder) if found == message_id]
    assert len(paths) == 1, f"{message_id} in {folder}: {paths}"
    return paths[0]


def add_maildir_flags(path, letters):
    """Renames a Maildir file to carry these flag letters too (sorted, as the format wants)."""
    base = os.path.basename(path).split(":2,", 1)[0]
    letters = "".join(sorted(set(flag_letters(path)) | set(letters)))
    os.rename(path, os.path.join(os.path.dirname(os.path.dirname(path)), "cur", f"{base}:2,{letters}"))


def move_maildir_file(path, folder):
    """Moves a message into another Maildir folder the way a mail program does: under a new name,
    without the client's UID and folder marks (which name the old folder's copy)."""
    name = f"moved-{os.getpid()}-{abs(hash(os.path.basename(path)))}.lorvanta:2,{flag_letters(path)}"
    os.rename(path, os.path.join(folder, "cur", name))
