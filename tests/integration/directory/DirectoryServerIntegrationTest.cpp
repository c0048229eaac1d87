// The directory server's socket path stays short enough for slapd whatever the folder. Entries
// added while it runs are used by the owner lookup tests and the delivery road.

#include "platform/directory/DirectoryServer.h"

#include <gtest/gtest.h>

namespace {

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
