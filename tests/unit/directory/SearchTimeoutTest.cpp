// The "Timeout" command property against a server that accepts a search and never answers it.
// The stand-in server speaks just enough LDAP: it answers the bind and the first read with
// success and stays silent on everything after.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/host/ServerFolder.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"
#include "testsupport/SilentLdapServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(SearchTimeout, ASearchTheServerNeverAnswersEndsWithTheTimeLimitFailure) {
    const testsupport::ScopedServerFolder folder;
    const fs::path& root = folder.Path();
    const auto socketPath = root / "s";
    platform::host::ServerFolder(root).WriteMachineNames(
        {"MAIL01", "corp.example.com", "corp.example.com", "dc01.corp.example.com",
         "ldapi://" + std::string("%2Ftmp%2F") + root.filename().string() + "%2Fs"});

    doubles::SilentLdapServer server(socketPath);
    const auto failure = testsupport::FailureOf([] {
        auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        connection->SetProvider("ADSDSOObject");
        connection->Open("ADs Provider", "", "");
        auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
        command->SetActiveConnection(connection);
        command->SetCommandText("SELECT cn FROM 'LDAP://corp.example.com/DC=corp,DC=example,"
                                "DC=com' WHERE cn='x'");
        command->SetProperty("Timeout", platform::Variant(1));
        command->Execute();
    });
    EXPECT_EQ(server.answered, 2);
    EXPECT_EQ(failure.number, platform::directory::hr_ds::ERROR_DS_TIMELIMIT_EXCEEDED);
}

} // namespace
