// Directory paths as the sink and the setup program write them ("GC://host/DN", "LDAP://..."),
// and which server a path reaches: the private one for this machine's names, any other host by
// name over LDAP (as a real global catalog would be reached).

#include "platform/directory/DirectoryPath.h"
#include "platform/directory/ServerAddress.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using platform::directory::ParseDirectoryPath;
using platform::directory::ResolveServer;

TEST(ParseDirectoryPath, SplitsProviderHostAndObject) {
    struct Case {
        std::string path;
        std::string scheme, host, dn;
        bool rootDse;
        bool globalCatalog;
    } cases[] = {
        {"GC://RootDSE", "GC", "", "", true, true},
        {"GC://dc01.corp.example.com", "GC", "dc01.corp.example.com", "", false, true},
        {"GC://dc01.corp.example.com/CN=A B,CN=Users,DC=corp", "GC", "dc01.corp.example.com",
         "CN=A B,CN=Users,DC=corp", false, true},
        {"LDAP://corp.example.com", "LDAP", "corp.example.com", "", false, false},
        {"LDAP://host:389/DC=x", "LDAP", "host:389", "DC=x", false, false},
        {"LDAP://CN=Sales / Desk,DC=corp", "LDAP", "", "CN=Sales / Desk,DC=corp", false, false},
        {"LDAP://h/CN=Sales / Desk,DC=corp", "LDAP", "h", "CN=Sales / Desk,DC=corp", false, false},
        {"LDAP://h/rootdse", "LDAP", "h", "", true, false},
        {"GC:", "GC", "", "", false, true},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseDirectoryPath(c.path);
        EXPECT_EQ(parsed.scheme, c.scheme) << c.path;
        EXPECT_EQ(parsed.host, c.host) << c.path;
        EXPECT_EQ(parsed.dn, c.dn) << c.path;
        EXPECT_EQ(parsed.rootDse, c.rootDse) << c.path;
        EXPECT_EQ(parsed.IsGlobalCatalog(), c.globalCatalog) << c.path;
    }
}

TEST(ParseDirectoryPath, RejectsMalformedPaths) {
    for (const std::string path : {"", "corp.example.com", "WinNT://host/user", "LDAP:/host",
                                   "LDAP:host", "LDAP://host/", "LDAP:///DC=x", "GC//host"}) {
        const auto failure = testsupport::FailureOf([&] { ParseDirectoryPath(path); });
        EXPECT_EQ(failure.number, platform::hr::E_ADS_BAD_PATHNAME) << path;
        EXPECT_NE(failure.description.find('"' + path + '"'), std::string::npos)
            << failure.description;
    }
}

namespace {

platform::host::MachineNames Machine() {
    return {"MAIL01", "corp.example.com", "example.com", "dc01.corp.example.com",
            "ldapi://%2Ftmp%2Fs"};
}

} // namespace

TEST(ResolveServer, TheMachinesNamesReachThePrivateServerOtherHostsAnLdapServerByName) {
    struct Case {
        std::string path;
        std::string uri;
        std::string namingContext; // of the private server
    } cases[] = {
        // The forest, the global catalog and its root DSE as the sink and the setup program name
        // them reach the private directory in every directory integration test.
        {"LDAP://CORP.example.COM", "ldapi://%2Ftmp%2Fs", "DC=CORP,DC=example,DC=COM"},
        {"LDAP://example.com/DC=x", "ldapi://%2Ftmp%2Fs", "DC=example,DC=com"},
        {"LDAP://mail01", "ldapi://%2Ftmp%2Fs", ""},
        {"LDAP:", "ldapi://%2Ftmp%2Fs", ""},
        {"LDAP://other.example.net", "ldap://other.example.net", ""},
        {"GC://gc.other.example.net", "ldap://gc.other.example.net:3268", ""},
        {"LDAP://127.0.0.1:1389/DC=x", "ldap://127.0.0.1:1389", ""},
    };
    for (const auto& c : cases) {
        const auto address = ResolveServer(ParseDirectoryPath(c.path), Machine());
        EXPECT_EQ(address.uri, c.uri) << c.path;
        if (c.uri.starts_with("ldapi:")) {
            EXPECT_EQ(address.namingContext, c.namingContext) << c.path;
        } else { // without a server folder the same holds
            EXPECT_EQ(ResolveServer(ParseDirectoryPath(c.path), std::nullopt).uri, c.uri) << c.path;
        }
    }
}
