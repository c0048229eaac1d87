"""What the Python tests of the built exhost share: exhost run as a script runs it, a server
folder with the fixtures' Alice in it, and "exhost imap" on a free loopback port. The test sets
EXHOST from its command line before it calls any of these.
"""

import imaplib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import unittest

EXHOST = None
INBOX = "file://./backofficestorage/example.com/mbx/alice/Inbox"
KEYWORDS = "urn:schemas-microsoft-com:office:office#Keywords"
HEADERS = "http://schemas.microsoft.com/mapi/proptag/0x007D001E"
BODY = "urn:schemas:httpmail:textdescription"
SUBJECT = "urn:schemas:httpmail:subject"
ADDRESSES = ["alice@example.com", "alice.smith@example.com", "sales@example.com"]
SPECIAL_USE = {"Sent": "\\Sent", "Drafts": "\\Drafts", "Trash": "\\Trash", "Junk": "\\Junk",
               "Archive": "\\Archive"}
LISTED = re.compile(rb'^\((?P<attrs>[^)]*)\) (?:NIL|"(?:[^"\\]|\\.)*") (?P<name>.+)$')
ACCOUNT = "http://schemas.microsoft.com/mapi/id/{00062008-0000-0000-C000-000000000046}/0x8580"


def run(*args, stdin=None):
    return subprocess.run([EXHOST, *args], input=stdin, capture_output=True, text=True)


def exhost(*args, stdin=None):
    """What the command printed; a failure fails the test."""
    result = run(*args, stdin=stdin)
    if result.returncode != 0:
        raise AssertionError(f"exhost {' '.join(args)} failed: {result.stderr}")
    return result.stdout


def server_folder(prefix, fixtures, password, users, dll=None):
    """A new server folder under /tmp for example.com, named by EXHOST_ROOT, with its directory
    running and Alice in it with a mailbox and `password`; with `dll`, the sink installed and
    registered on her Inbox."""
    root = tempfile.mkdtemp(prefix=prefix, dir="/tmp")
    os.environ["EXHOST_ROOT"] = root
    exhost("init", "--force", "--domain", "example.com", "--users", str(users))
    exhost("directory", "start")
    exhost("ldif", os.path.join(fixtures, "demo", "alice.ldif"))
    exhost("mailbox", "add", "alice")
    exhost("passwd", "alice", stdin=password + "\n")
    if dll:
        exhost("complus", "install", "Lorvanta", dll, "--identity", "example.com\\svc",
               "--password-stdin", stdin="x\n")
        register_sink()
    return root


def register_sink():
    exhost("regevent", "add", "--folder", INBOX, "--name", "Lorvanta.reg", "--event",
           "onsyncsave", "--sink", "Lorvanta.LorvantaCls", "--scope", "SHALLOW",
           "--criteria", ' WHERE "DAV:ishidden" = FALSE', "--priority", "1")


def remove_server_folder(root):
    run("directory", "stop")
    shutil.rmtree(root, ignore_errors=True)


def ok(answer):
    """The data of an imaplib answer that must be OK."""
    typ, data = answer
    if typ != "OK":
        raise AssertionError(f"{typ} {data}")
    return data


def reply(reader, tag):
    """The lines up to the tagged one, and the tagged one."""
    lines = []
    while True:
        line = reader.readline()
        if not line:
            raise AssertionError(f"closed before {tag}: {lines}")
        lines.append(line)
        if line.startswith(tag + b" "):
            return lines


class ImapServer:
    """"exhost imap" (or another server command) with the options, on the port it prints first;
    with --tls-listen, its implicit TLS port is the second. Its standard error is read all
    along, so that a server that logs much never blocks on a full pipe, and kept."""

    def __init__(self, *options, command="imap"):
        self.process = subprocess.Popen([EXHOST, command, "--listen", "127.0.0.1:0", *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())
        if "--tls-listen" in options:
            self.tls_port = int(self.process.stdout.readline())
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(self.process.stderr),
                                       daemon=True)
        self.reader.start()

    def connect(self, timeout=20, source=None):
        """A connection and a reader of it, past the greeting."""
        connection = socket.create_connection(("127.0.0.1", self.port), timeout=timeout,
                                              source_address=source and (source, 0))
        reader = connection.makefile("rb")
        greeting = reader.readline()
        assert greeting.startswith(b"* OK"), greeting
        return connection, reader

    def stop(self, timeout=30):
        """SIGTERM unless it ended; its exit code and all it wrote on standard error. A server
        that does not stop in time is killed, and the test fails."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        self.reader.join()
        self.process.stdout.close()
        return code, "".join(self.lines)


def listed(client, *command):
    """{name: attributes} of a LIST or LSUB answer, by default to LIST "" "*"."""
    command = command or ("LIST", '""', "*")
    typ, lines = client._untagged_response(*client._simple_command(*command), command[0])
    assert typ == "OK", lines
    result = {}
    for line in lines:
        if line is None:
            continue
        found = LISTED.match(line)
        assert found, line
        name = found.group("name")
        if name.startswith(b'"'):
            name = re.sub(rb"\\(.)", rb"\1", name[1:-1])
        result[name.decode()] = set(found.group("attrs").decode().split())
    return result


def stored_messages(folder=INBOX):
    """The folder's messages as the store holds them, in the order they were made."""
    shown = json.loads(exhost("show", folder, "--json"))
    return [item for item in shown["items"]
            if item["properties"].get("DAV:contentclass") == "urn:content-class:message"]


def keywords_of(item):
    value = item["properties"].get(KEYWORDS)
    return [] if value is None else value if isinstance(value, list) else [value]


class ServerFolderTests(unittest.TestCase):
    """Tests that share one server folder, cls.root, and the servers setUpClass starts there:
    cls.server, if any, and cls.servers, each of which must exit 0 and log no password; all go
    after the last test. A login is cls.user's with cls.password unless told otherwise."""

    server = password = None
    servers = ()
    user = "alice"

    @classmethod
    def tearDownClass(cls):
        if cls.server:
            cls.server.stop()
        for server in cls.servers:
            code, log = server.stop()
            assert code == 0, log
            assert cls.password not in log, "the log holds a password"
        remove_server_folder(cls.root)

    @classmethod
    def login(cls, user=None, password=None):
        """An imaplib client logged in, for a session the caller ends."""
        client = imaplib.IMAP4("127.0.0.1", cls.server.port)
        try:
            client.login(user or cls.user, cls.password if password is None else password)
        except imaplib.IMAP4.error:
            client.shutdown()  # a refused login still holds one of the server's sessions
            raise
        return client

    def client(self, user=None, password=None):
        """A login logged out after the test."""
        client = self.login(user, password)
        self.addCleanup(client.logout)
        return client

    def connect(self, server=None, timeout=20):
        """A connection past the greeting and a reader of it, both closed after the test."""
        connection, reader = (server or self.server).connect(timeout)
        self.addCleanup(connection.close)
        self.addCleanup(reader.close)
        return connection, reader
