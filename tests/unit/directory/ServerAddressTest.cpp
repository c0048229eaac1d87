// Which server a directory path reaches: the private one for this machine's names, any other
// host by name over LDAP (as a real global catalog would be reached).

#include "platform/directory/ServerAddress.h"
#include "platform/core/Error.h"

#include <gtest/gtest.h>

using platform::directory::ParseDirectoryPath;
using platform::directory::ResolveServer;

namespace {

platform::host::MachineNames Machine() {
    return {"MAIL01", "corp.example.com", "example.com", "dc01.corp.example.com",
            "ldapi://%2Ftmp%2Fs"};
}

} // namespace

TEST(ResolveServer, TheMachinesNamesReachThePrivateServer) {
    struct Case {
        std::string path;
        std::string uri;
        std::string namingContext;
    } cases[] = {
        // The forest, the global catalog and its root DSE as the sink and the setup program name
        // them reach the private directory in every directory integration test.
        {"LDAP://CORP.example.COM", "ldapi://%2Ftmp%2Fs", "DC=CORP,DC=example,DC=COM"},
        {"LDAP://example.com/DC=x", "ldapi://%2Ftmp%2Fs", "DC=example,DC=com"},
        {"LDAP://mail01", "ldapi://%2Ftmp%2Fs", ""},
        {"LDAP:", "ldapi://%2Ftmp%2Fs", ""},
    };
    for (const auto& c : cases) {
        const auto address = ResolveServer(ParseDirectoryPath(c.path), Machine());
        EXPECT_EQ(address.uri, c.uri) << c.path;
        EXPECT_EQ(address.namingContext, c.namingContext) << c.path;
    }
}

TEST(ResolveServer, OtherHostsAreLdapServersByName) {
    struct Case {
        std::string path;
        std::string uri;
    } cases[] = {
        {"LDAP://other.example.net", "ldap://other.example.net"},
        {"GC://gc.other.example.net", "ldap://gc.other.example.net:3268"},
        {"LDAP://127.0.0.1:1389/DC=x", "ldap://127.0.0.1:1389"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResolveServer(ParseDirectoryPath(c.path), Machine()).uri, c.uri) << c.path;
        // Without a server folder the same holds.
        EXPECT_EQ(ResolveServer(ParseDirectoryPath(c.path), std::nullopt).uri, c.uri) << c.path;
    }
}
