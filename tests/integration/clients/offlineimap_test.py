"""offlineimap (offlineimap3) keeping a Maildir in step with the IMAP front both ways: the
scenario of maildir_scenario.py, with "/" between the levels of a local folder's name as on the
server, and its status database beside the Maildir.

usage: offlineimap_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import os

import client_harness as harness
import maildir_scenario


class Offlineimap(maildir_scenario.MaildirScenario):
    CLIENT = "offlineimap"

    def configure(self):
        self.config = os.path.join(self.work, "offlineimaprc")
        with open(self.config, "w", encoding="utf-8") as config:
            config.write(f"""\
[general]
accounts = lorvanta
metadata = {self.work}/offlineimap-status
maxsyncaccounts = 1

[Account lorvanta]
localrepository = local
remoterepository = server

[Repository local]
type = Maildir
localfolders = {self.maildir}
sep = /

[Repository server]
type = IMAP
remotehost = 127.0.0.1
remoteport = {self.server.port}
remoteuser = {harness.USER}
remotepass = {harness.PASSWORD}
# Plain LOGIN: the server is on loopback.
ssl = no
starttls = no
auth_mechanisms = LOGIN
maxconnections = 1
holdconnectionopen = no
""")

    def sync_command(self):
        # -d imap: the IMAP exchange in the output, shown when a sync fails.
        return ["offlineimap", "-c", self.config, "-o", "-u", "basic", "-d", "imap"]


if __name__ == "__main__":
    maildir_scenario.main(Offlineimap)
