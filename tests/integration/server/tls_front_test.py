"""TLS on the SMTP, LMTP, submission and IMAP fronts, from clients the project did not write, which
verify the certificate "exhost init" made against that file and the host name.

usage: tls_front_test.py EXHOST FIXTURES_DIR
"""

import imaplib
import os
import shutil
import signal
import smtplib
import socket
import ssl
import subprocess
import sys
import time
import unittest

import exhost_harness
from exhost_harness import ImapServer, exhost, run

FIXTURES = None
PASSWORD = "wonderland-7"
MESSAGE = b"From: bob@example.net\r\nTo: alice@example.com\r\nSubject: over TLS\r\n\r\nHi\r\n"


def tls_client(root):
    """A client context that trusts only the server folder's own certificate."""
    context = ssl.create_default_context(cafile=os.path.join(root, "tls", "server.crt"))
    context.check_hostname = False  # the certificate names the server, not 127.0.0.1
    return context


def s_client(port, *options, timeout=20):
    """openssl s_client's exit code and output; it quits after the handshake."""
    result = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{port}", *options],
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return result.returncode, (result.stdout + result.stderr).decode(errors="replace")


class TlsFronts(exhost_harness.ServerFolderTests):
    password = PASSWORD

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvtls", FIXTURES, PASSWORD, 2)
        cls.certificate = os.path.join(cls.root, "tls", "server.crt")
        subject = subprocess.run(["openssl", "x509", "-in", cls.certificate, "-noout", "-subject",
                                  "-nameopt", "sep_multiline"], capture_output=True, text=True)
        cls.host = subject.stdout.split("CN=")[1].split()[0]  # the name the certificate is for
        cls.imap = ImapServer("--root", cls.root, "--tls-listen", "127.0.0.1:0")
        cls.smtp = ImapServer("--root", cls.root, command="smtp")
        cls.lmtp = ImapServer("--root", cls.root, command="lmtp")
        cls.submission = ImapServer("--root", cls.root, "--tls-listen", "127.0.0.1:0",
                                    command="submission")
        cls.servers = (cls.imap, cls.smtp, cls.lmtp, cls.submission)

    def imaps(self):
        client = imaplib.IMAP4_SSL("127.0.0.1", self.imap.tls_port,
                                   ssl_context=tls_client(self.root))
        client.login("alice@example.com", PASSWORD)
        return client

    def test_mail_sent_over_starttls_and_implicit_tls_is_read_over_imaps(self):
        # The SMTP front without a login, the submission front after one.
        for server, implicit in ((self.smtp, False), (self.submission, False),
                                 (self.submission, True)):
            submission = server is self.submission
            with self.subTest(submission=submission, implicit=implicit):
                subject = f"over TLS, submission {submission}, implicit {implicit}"
                if implicit:
                    client = smtplib.SMTP_SSL("127.0.0.1", server.tls_port, timeout=20,
                                              context=tls_client(self.root))
                else:
                    client = smtplib.SMTP("127.0.0.1", server.port, timeout=20)
                    client.starttls(context=tls_client(self.root))
                with client:
                    client.ehlo()
                    self.assertEqual(client.has_extn("auth"), submission)
                    self.assertFalse(client.has_extn("starttls"))
                    sender = "alice@example.com" if submission else "bob@example.net"
                    if submission:
                        client.login("alice@example.com", PASSWORD)
                    message = MESSAGE.replace(b"over TLS", subject.encode()).replace(
                        b"bob@example.net", sender.encode())
                    self.assertEqual(client.sendmail(sender, ["alice@example.com"], message), {})
                reader = self.imaps()
                reader.select("INBOX")
                found = reader.search(None, "SUBJECT", f'"{subject}"')[1][0].split()
                self.assertEqual(len(found), 1, subject)
                reader.logout()

    def test_imap_starttls_then_login(self):
        client = imaplib.IMAP4("127.0.0.1", self.imap.port)
        self.assertIn("STARTTLS", client.capabilities)
        client.starttls(ssl_context=tls_client(self.root))
        self.assertNotIn("STARTTLS", client.capabilities)
        self.assertEqual(client.login("alice@example.com", PASSWORD)[0], "OK")
        self.assertEqual(client.select("INBOX")[0], "OK")
        client.logout()

    def test_peers_verify_the_certificate_of_every_front(self):
        for port, options in [(self.smtp.port, ["-starttls", "smtp"]),
                              (self.lmtp.port, ["-starttls", "lmtp"]),
                              (self.imap.port, ["-starttls", "imap"]),
                              (self.imap.tls_port, []),
                              (self.submission.port, ["-starttls", "smtp"]),
                              (self.submission.tls_port, [])]:
            with self.subTest(port=port, options=options):
                code, output = s_client(port, "-CAfile", self.certificate, "-brief", *options)
                self.assertEqual(code, 0, output)
                self.assertIn("Verification: OK", output)
                self.assertRegex(output, r"Protocol version: TLSv1\.[23]")

    def test_old_protocols_and_weak_ciphers_are_refused(self):
        weak = "@SECLEVEL=0"  # so that the client offers what the server must refuse
        for port, options in [
                (self.imap.tls_port, ["-tls1", "-cipher", "ALL:" + weak]),
                (self.imap.tls_port, ["-tls1_1", "-cipher", "ALL:" + weak]),
                (self.smtp.port, ["-starttls", "smtp", "-tls1_1", "-cipher", "ALL:" + weak]),
                (self.imap.tls_port, ["-tls1_2", "-cipher", "AES128-SHA:" + weak]),
                (self.imap.tls_port, ["-tls1_2", "-cipher", "DHE-RSA-AES128-SHA:" + weak]),
                (self.imap.tls_port, ["-tls1_2", "-cipher", "ECDHE-ECDSA-AES128-SHA:" + weak]),
                (self.imap.tls_port, ["-tls1_2", "-cipher", "ECDHE-ECDSA-NULL-SHA:" + weak])]:
            with self.subTest(options=options):
                code, output = s_client(port, *options)
                self.assertNotEqual(code, 0, output)
                self.assertNotIn("Protocol version", output)

    def test_commands_pipelined_behind_starttls_are_dropped(self):
        for port, greeting, injected, after, expected in [
                (self.smtp.port, b"220", b"STARTTLS\r\nMAIL FROM:<x@example.net>\r\n",
                 b"EHLO client\r\n", b"250-"),
                (self.lmtp.port, b"220", b"LHLO client\r\nSTARTTLS\r\nRSET\r\n",
                 b"LHLO client\r\n", b"250-"),
                (self.imap.port, b"* OK", b"a STARTTLS\r\nb LOGIN alice@example.com x\r\n",
                 b"c NOOP\r\n", b"c OK")]:
            with self.subTest(port=port):
                with socket.create_connection(("127.0.0.1", port), timeout=20) as plain:
                    reader = plain.makefile("rb")
                    self.assertTrue(reader.readline().startswith(greeting))
                    plain.sendall(injected)
                    line = reader.readline()
                    while line.startswith(b"250-"):  # LHLO's answer
                        line = reader.readline()
                    if injected.startswith(b"LHLO"):
                        line = reader.readline()
                    self.assertTrue(line.startswith((b"220 ", b"a OK")), line)
                    with tls_client(self.root).wrap_socket(plain) as secure:
                        secure.sendall(after)
                        first = secure.recv(4096)
                        # The first answer through TLS is to what came through TLS.
                        self.assertTrue(first.startswith(expected), first)

    def test_implicit_tls_port_speaks_nothing_before_the_handshake(self):
        with socket.create_connection(("127.0.0.1", self.imap.tls_port), timeout=20) as plain:
            plain.sendall(b"a CAPABILITY\r\n")
            plain.settimeout(5)
            try:
                answer = plain.recv(100)
            except (socket.timeout, ConnectionResetError):
                answer = b""
            self.assertNotIn(b"* OK", answer)

    def test_curl_and_swaks(self):
        listing = subprocess.run(
            ["curl", "-s", "--cacert", self.certificate, "--resolve",
             f"{self.host}:{self.imap.tls_port}:127.0.0.1", "--user",
             f"alice@example.com:{PASSWORD}", f"imaps://{self.host}:{self.imap.tls_port}/"],
            capture_output=True, text=True, timeout=30)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertIn("INBOX", listing.stdout)
        # curl refuses to go on in clear when --ssl-reqd and STARTTLS fails.
        mailed = subprocess.run(
            ["curl", "-s", "--ssl-reqd", "--cacert", self.certificate, "--resolve",
             f"{self.host}:{self.smtp.port}:127.0.0.1", "--mail-from", "bob@example.net",
             "--mail-rcpt", "alice@example.com", "-T", "-",
             f"smtp://{self.host}:{self.smtp.port}"], input=MESSAGE.decode(),
            capture_output=True, text=True, timeout=30)
        self.assertEqual(mailed.returncode, 0, mailed.stderr)
        sent = subprocess.run(
            ["swaks", "--server", "127.0.0.1", "--port", str(self.smtp.port), "--tls",
             "--from", "bob@example.net", "--to", "alice@example.com", "--header",
             "Subject: by swaks"], capture_output=True, text=True, timeout=60)
        self.assertEqual(sent.returncode, 0, sent.stdout + sent.stderr)
        self.assertIn("<-  220 2.0.0 Ready to start TLS", sent.stdout)
        self.assertIn("TLS started", sent.stdout)

    def test_sighup_reads_a_new_certificate_and_sessions_go_on(self):
        before = self.imaps()
        tls, kept = os.path.join(self.root, "tls"), os.path.join(self.root, "kept-tls")
        shutil.copytree(tls, kept)
        try:
            exhost("tls", "--new")
            self.imap.process.send_signal(signal.SIGHUP)
            time.sleep(0.5)
            self.assertEqual(before.noop()[0], "OK")
            fresh = self.imaps()  # verified against the new file
            self.assertEqual(fresh.noop()[0], "OK")
            fresh.logout()
        finally:
            shutil.copytree(kept, tls, dirs_exist_ok=True)
            self.imap.process.send_signal(signal.SIGHUP)
            time.sleep(0.5)
        self.assertEqual(before.noop()[0], "OK")
        before.logout()
        self.assertIn("tls-reload", "".join(self.imap.lines))

    def test_a_key_others_may_read_stops_the_start_naming_the_file(self):
        # Which files the servers refuse, and why, is TlsContextTest's: here, that a refusal
        # stops the front before it listens.
        scratch = os.path.join(self.root, "scratch")
        os.makedirs(scratch, exist_ok=True)
        readable = os.path.join(scratch, "readable.key")
        shutil.copy(os.path.join(self.root, "tls", "server.key"), readable)
        os.chmod(readable, 0o644)
        for command in ("imap", "smtp"):
            with self.subTest(command=command):
                result = run(command, "--listen", "127.0.0.1:0", "--tls-cert", self.certificate,
                             "--tls-key", readable)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("readable.key", result.stderr)
                self.assertEqual(result.stdout, "")

if __name__ == "__main__":
    exhost_harness.EXHOST, FIXTURES = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
