""""exhost submission" over loopback, from Python's smtplib: logins, delivery here (stamped by
the sink), and mail for elsewhere refused without a relay host and passed to one (a listener in
this test) with it; the login throttle counting an account's names as one, and not holding up
SIGTERM. The protocol's rules are SmtpSubmissionTest's.

usage: submission_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import os
import re
import smtplib
import socket
import sys
import threading
import time
import unittest
from email.message import EmailMessage

import exhost_harness
from exhost_harness import HEADERS, SUBJECT, ImapServer, keywords_of, stored_messages

DLL = FIXTURES = None
PASSWORD = "wonderland-7"


class RelayListener:
    """An MTA that takes every recipient but refused@..., and keeps what it was sent."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.commands, self.messages = [], []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            connection, _ = self.listener.accept()
            with connection, connection.makefile("rb") as reader:
                connection.sendall(b"220 relay.test ESMTP\r\n")
                for line in reader:
                    command = line.decode().rstrip("\r\n")
                    self.commands.append(command)
                    if command.upper().startswith("DATA"):
                        connection.sendall(b"354 go on\r\n")
                        data = b"".join(iter(reader.readline, b".\r\n"))
                        self.messages.append(data.decode())
                        answer = "250 2.0.0 queued as R1"
                    elif command.upper().startswith("RCPT TO:<REFUSED"):
                        answer = "550 5.1.1 relay.test knows no such user"
                    elif command.upper().startswith("QUIT"):
                        connection.sendall(b"221 bye\r\n")
                        break
                    else:
                        answer = "250 relay.test OK"
                    connection.sendall(answer.encode() + b"\r\n")


def message(subject, to):
    mail = EmailMessage()
    mail["From"], mail["To"], mail["Subject"] = "alice@example.com", to, subject
    mail.set_content("Hello.\n")
    return mail


class SubmissionFront(exhost_harness.ServerFolderTests):
    password = PASSWORD

    @classmethod
    def setUpClass(cls):
        cls.root = exhost_harness.server_folder("lvsubmit", FIXTURES, PASSWORD, 4, DLL)
        cls.local = ImapServer("--root", cls.root, command="submission")
        # relay_host is read when a front starts: the second one relays, the third one's relay
        # host is a port nobody listens on.
        cls.relay = RelayListener()
        with socket.create_server(("127.0.0.1", 0)) as closed:
            nobody = closed.getsockname()[1]
        cls.relaying, cls.unreachable = [cls.with_relay(port) for port in (cls.relay.port, nobody)]
        cls.servers = (cls.local, cls.relaying, cls.unreachable)

    @classmethod
    def with_relay(cls, port):
        with open(os.path.join(cls.root, "machine.conf"), "a", encoding="utf-8") as conf:
            conf.write(f"relay_host = 127.0.0.1:{port}\n")
        return ImapServer("--root", cls.root, command="submission")

    def sender(self, server):
        client = smtplib.SMTP("127.0.0.1", server.port, timeout=30)
        self.addCleanup(client.close)
        client.login("alice@example.com", PASSWORD)
        return client

    def test_logins_by_mechanism_user_name_and_password(self):
        for mechanism in ("PLAIN", "LOGIN"):
            for user, password, code in (("alice@example.com", PASSWORD, 235),
                                         ("alice", PASSWORD, 235), ("alice", "wrong", 535),
                                         ("nobody@example.com", PASSWORD, 535)):
                with smtplib.SMTP("127.0.0.1", self.local.port, timeout=30) as client:
                    client.ehlo()
                    client.user, client.password = user, password
                    method = client.auth_plain if mechanism == "PLAIN" else client.auth_login
                    try:
                        got = client.auth(mechanism, method)[0]
                    except smtplib.SMTPAuthenticationError as error:
                        got = error.smtp_code
                    self.assertEqual(got, code, (mechanism, user, password))

    def test_local_mail_is_delivered_stamped_and_traced(self):
        self.sender(self.local).send_message(message("submitted here", "sales@example.com"),
                                             from_addr="Alice.Smith@example.com",
                                             to_addrs=["sales@example.com"])
        (item,) = [item for item in stored_messages()
                   if item["properties"].get(SUBJECT) == "submitted here"]
        self.assertIn("sales@example.com", keywords_of(item))
        self.assertIn(" with ESMTPA id ", item["properties"][HEADERS])

    def test_senders_and_recipients_elsewhere_are_refused_without_a_relay_host(self):
        client = self.sender(self.local)
        with self.assertRaises(smtplib.SMTPSenderRefused) as refused:
            client.sendmail("bob@partner.example", ["alice@example.com"], "Subject: x\r\n\r\nx\r\n")
        self.assertEqual(refused.exception.smtp_code, 553)
        with self.assertRaises(smtplib.SMTPRecipientsRefused) as refused:
            client.sendmail("alice@example.com", ["bob@partner.example"], "Subject: x\r\n\r\nx\r\n")
        self.assertEqual(refused.exception.recipients["bob@partner.example"],
                         (550, b"5.7.1 Relaying denied"))

    def test_the_relay_host_gets_mail_for_elsewhere_and_its_verdicts_are_ours(self):
        client = self.sender(self.relaying)
        # An unknown address of our own domain is refused here, never handed to the relay.
        refused = client.send_message(message("relayed", "bob@partner.example"),
                                      to_addrs=["bob@partner.example", "refused@partner.example",
                                                "nobody@example.com"])
        self.assertEqual(refused["refused@partner.example"],
                         (550, b"5.1.1 relay.test knows no such user"))
        self.assertEqual(refused["nobody@example.com"][0], 550)
        self.assertNotIn("RCPT TO:<nobody@example.com>", self.relay.commands)
        self.assertIn("MAIL FROM:<alice@example.com>", self.relay.commands)
        self.assertIn("RCPT TO:<bob@partner.example>", self.relay.commands)
        self.assertEqual(len(self.relay.messages), 1)
        relayed = self.relay.messages[0]
        self.assertTrue(relayed.startswith("Received: from "), relayed)
        self.assertIn(" with ESMTPA id ", relayed)
        self.assertIn("Subject: relayed\r\n", relayed)

    def test_a_relay_host_that_cannot_be_reached_defers_the_recipient(self):
        client = self.sender(self.unreachable)
        with self.assertRaises(smtplib.SMTPRecipientsRefused) as refused:
            client.sendmail("alice@example.com", ["bob@partner.example"], "Subject: x\r\n\r\nx\r\n")
        code, text = refused.exception.recipients["bob@partner.example"]
        self.assertEqual((code, text[:6]), (451, b"4.4.1 "))

    def paced(self, tries_per_minute):
        """A front whose pause, once an address's free tries are gone, is long (60 s / the tries
        per minute), so that a paced try waits; and a PLAIN login to it, for its reply code."""
        paced = ImapServer("--root", self.root, "--login-tries-per-minute", str(tries_per_minute),
                           command="submission")

        def auth(user, password):
            with smtplib.SMTP("127.0.0.1", paced.port, timeout=30) as client:
                client.ehlo()
                client.user, client.password = user, password
                try:  # one mechanism: login() would try the next after a refusal
                    return client.auth("PLAIN", client.auth_plain)[0]
                except smtplib.SMTPAuthenticationError as error:
                    return error.smtp_code

        return paced, auth

    def test_an_accounts_names_are_one_account_to_the_login_throttle(self):
        paced, auth = self.paced(2)
        for name in ["sales@example.com", "alice.smith@example.com", "sales@example.com"]:
            self.assertEqual(auth(name, "wrong"), 535, name)
        self.assertEqual([auth("alice", PASSWORD) for _ in range(2)], [235, 235])
        code, log = paced.stop()
        self.assertEqual(code, 0)
        # Her first login waited for the address's turn; then the tries under her addresses
        # were hers, cleared by it, and the second did not wait.
        self.assertEqual(len(re.findall(r"login-throttled .* user=alice ", log)), 1, log)

    def test_sigterm_is_not_held_up_by_a_login_waiting_for_its_turn(self):
        paced, auth = self.paced(1)
        for _ in range(3):
            self.assertEqual(auth("alice", "wrong"), 535)
        # The fourth waits 7.5 s for its turn.
        with socket.create_connection(("127.0.0.1", paced.port), timeout=30) as connection:
            reader = connection.makefile("rb")
            reader.readline()
            connection.sendall(b"EHLO client\r\nAUTH PLAIN AGFsaWNlAHdyb25n\r\n")
            time.sleep(0.5)
            started = time.monotonic()
            code, log = paced.stop()
            took = time.monotonic() - started
            self.assertEqual(code, 0)
            self.assertLess(took, 4, log)
            self.assertIn(b"421 ", reader.read())
        self.assertRegex(log, r"login-throttled .* user=alice ms=\d+ outcome=abandoned")


if __name__ == "__main__":
    exhost_harness.EXHOST, DLL, FIXTURES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
