// Directory paths as the sink and the setup program write them ("GC://host/DN", "LDAP://...").

#include "platform/directory/DirectoryPath.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using platform::directory::ParseDirectoryPath;

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
