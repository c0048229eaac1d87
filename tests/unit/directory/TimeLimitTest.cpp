// A caller's own time limit on connecting and on checking a password, against a server that
// accepts the connection and never answers (the IMAP login's lookup timeout rests on it).

#include "platform/core/Error.h"
#include "platform/directory/LdapConnection.h"
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

} // namespace
