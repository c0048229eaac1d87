"""mbsync (isync) keeping a Maildir in step with the IMAP front both ways: the scenario of
maildir_scenario.py, with "Create Both", "Expunge Both" and the sync state kept in the Maildir.

usage: mbsync_test.py EXHOST LORVANTA_DLL FIXTURES_DIR
"""

import os

import client_harness as harness
import maildir_scenario


class Mbsync(maildir_scenario.MaildirScenario):
    CLIENT = "mbsync"

    def configure(self):
        self.config = os.path.join(self.work, "mbsyncrc")
        with open(self.config, "w", encoding="utf-8") as config:
            config.write(f"""\
IMAPAccount lorvanta
Host 127.0.0.1
Port {self.server.port}
User {harness.USER}
Pass {harness.PASSWORD}
# Plain LOGIN: the server is on loopback.
SSLType None
AuthMechs LOGIN

IMAPStore server
Account lorvanta

MaildirStore local
Path {self.maildir}/
Inbox {self.maildir}/INBOX
SubFolders Verbatim

Channel mail
Far :server:
Near :local:
Patterns *
Create Both
Expunge Both
SyncState *
""")

    def sync_command(self):
        # -D: the IMAP exchange in the output, shown when a sync fails.
        return ["mbsync", "-D", "-c", self.config, "-a"]


if __name__ == "__main__":
    maildir_scenario.main(Mbsync)
