// The directory server helper: entries added while it runs (exhost adduser), and a socket path
// short enough for slapd whatever the folder.

#include "platform/core/Error.h"
#include "sink/LorvantaModule.h"
#include "tests/integration/directory/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using testing_directory::DirectoryEnvironment;

TEST(DirectoryServerHelper, EntriesAddedWhileRunningAreFound) {
    auto& environment = DirectoryEnvironment::Current();
    const auto ldif = environment.Root() / "added.ldif";
    std::ofstream(ldif) << "dn: CN=Added Online,CN=Users," << environment.Sample().baseDn << "\n"
                        << "objectClass: top\nobjectClass: person\n"
                        << "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\n"
                        << "objectClass: adRecipient\ncn: Added Online\nsn: Online\n"
                        << "mail: added.online@corp.example.com\n"
                        << "msExchHomeServerName: "
                        << platform::directory::HomeServerValue(environment.Machine().computerName)
                        << "\n"
                        << "proxyAddresses: SMTP:added.online@corp.example.com\n";
    environment.Server().Add(ldif);
    EXPECT_EQ(lorvanta::GetOwnerAddresses("added.online"), "added.online@corp.example.com");
    // The same entry a second time is refused.
    EXPECT_THROW(environment.Server().Add(ldif), platform::Error);
}

TEST(DirectoryServerHelper, ALongFolderPutsTheSocketUnderTmp) {
    platform::directory::DirectoryServerSettings settings;
    settings.folder = "/tmp/" + std::string(120, 'x');
    settings.forestDnsName = "corp.example.com";
    platform::directory::DirectoryServer server(settings);
    EXPECT_EQ(server.SocketPath().parent_path().parent_path(), "/tmp");
    EXPECT_LT(server.SocketPath().string().size(), 101u);
    EXPECT_FALSE(server.RunningPid().has_value());
}

} // namespace
