// The server helper itself: status, refusing a second start, and entries added while it runs.

#include "platform/core/Error.h"
#include "sink/LorvantaModule.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <signal.h>

namespace {

using testing_directory::DirectoryEnvironment;

TEST(DirectoryServerHelper, ReportsItsRunningServerAndRefusesASecondStart) {
    auto& server = DirectoryEnvironment::Current().Server();
    const auto pid = server.RunningPid();
    ASSERT_TRUE(pid.has_value());
    EXPECT_EQ(kill(*pid, 0), 0);
    EXPECT_LT(server.SocketPath().string().size(), 101u);
    EXPECT_EQ(server.Uri().rfind("ldapi://%2F", 0), 0u) << server.Uri();
    try {
        server.Start();
        FAIL() << "a second start must fail";
    } catch (const platform::Error& error) {
        EXPECT_NE(error.Description().find("already runs"), std::string::npos) << error.what();
    }
    EXPECT_EQ(server.RunningPid(), pid);
}

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
