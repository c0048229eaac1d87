// Time limits on a server that stops answering (the IMAP login's lookup timeout rests on them).

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapConnection.h"
#include "platform/host/ServerFolder.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"
#include "testsupport/SilentLdapServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace {

using namespace std::chrono_literals;
namespace directory = platform::directory;

struct LimitedCall {
    const char* socket;
    std::function<void(const std::string& uri)> call;
};

TEST(TimeLimit, ABindTheServerNeverAnswersEndsWithinTheCallersLimit) {
    const testsupport::ScopedServerFolder folder;
    const LimitedCall calls[] = {
        {"connect", [](const std::string& uri) { directory::LdapConnection(uri, 300ms); }},
        {"password",
         [](const std::string& uri) {
             directory::CheckPassword(uri, "CN=u,DC=example,DC=com", "pw", 300ms);
         }},
    };
    for (const auto& [socket, call] : calls) {
        SCOPED_TRACE(socket);
        const doubles::SilentLdapServer server(folder.Path() / socket, 0);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(call("ldapi://%2Ftmp%2F" + folder.Path().filename().string() + "%2F" + socket),
                     platform::Error);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    }
}

TEST(TimeLimit, ASearchTheServerNeverAnswersEndsWithTheTimeLimitFailure) {
    const testsupport::ScopedServerFolder folder;
    platform::host::ServerFolder(folder.Path())
        .WriteMachineNames({"MAIL01", "corp.example.com", "corp.example.com",
                            "dc01.corp.example.com",
                            "ldapi://%2Ftmp%2F" + folder.Path().filename().string() + "%2Fs"});
    // It answers the bind and the first read with success.
    doubles::SilentLdapServer server(folder.Path() / "s");
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
