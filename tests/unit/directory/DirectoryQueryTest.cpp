// Directory paths, the server each reaches, and the two query dialects with what they refuse.

#include "platform/directory/DirectoryQuery.h"
#include "platform/directory/DirectoryPath.h"
#include "platform/directory/ServerAddress.h"
#include "platform/directory/SqlDialect.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

#include <tuple>

using platform::directory::DirectoryPath;
using platform::directory::IsLdapDialect;
using platform::directory::ParseDirectoryPath;
using platform::directory::ParseLdapDialect;
using platform::directory::ParseSqlDialect;
using platform::directory::ResolveServer;
using platform::directory::SearchScope;

namespace {

using testsupport::ExpectRefused;

const std::string kSchemaDn = "CN=Schema,CN=Configuration,DC=corp,DC=example,DC=com";

std::string FilterOf(const std::string& where) {
    return ParseSqlDialect("SELECT cn FROM 'GC://dc01' WHERE " + where,
                           [](const DirectoryPath&) { return kSchemaDn; })
        .filter;
}

} // namespace

TEST(SqlDialect, ConditionsBecomeLdapFilters) {
    struct Case {
        std::string where;
        std::string filter;
    } cases[] = {
        {"sAMAccountName='ExAdmin'", "(sAMAccountName=ExAdmin)"},
        {"cn='a' OR sn='b'", "(|(cn=a)(sn=b))"},
        {"cn='a' AND (sn='b' OR sn='c')", "(&(cn=a)(|(sn=b)(sn=c)))"},
        {"cn='a' OR sn='b' AND mail='c'", "(|(cn=a)(&(sn=b)(mail=c)))"},
        {"NOT cn='a'", "(!(cn=a))"},
        {"mail='jdoe@*'", "(mail=jdoe@*)"},
        {"mail='*'", "(mail=*)"},
        {"cn<>'a'", "(!(cn=a))"},
        {"userAccountControl>=512", "(userAccountControl>=512)"},
        {"userAccountControl>512", "(!(userAccountControl<=512))"},
        {"userAccountControl<512", "(!(userAccountControl>=512))"},
        {"objectCategory='CN=Person,DC=x'", "(objectCategory=CN=Person,DC=x)"},
        {"cn=''", "(cn=)"},
        // Hostile values.
        {"cn='x)(mail=*'", "(cn=x\\29\\28mail=*)"},
        {"cn='a*b)(c'", "(cn=a*b\\29\\28c)"},
        {"cn='\\'", "(cn=\\5C)"},
        {"cn='*)(objectClass=*'", "(cn=*\\29\\28objectClass=*)"},
        {"cn='('", "(cn=\\28)"},
        {std::string("cn='nul\0x'", 10), "(cn=nul\\00x)"},
        {"cn<='a)'", "(cn<=a\\29)"},
        {"objectCategory='per)son'", "(objectCategory=CN=Per\\29son," + kSchemaDn + ")"},
        // Wildcards in a row.
        {"cn='a**b'", "(cn=a*b)"},
        {"cn='**'", "(cn=*)"},
        {"cn='***a*(**'", "(cn=*a*\\28*)"},
        {"cn<>'a**'", "(!(cn=a*))"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FilterOf(c.where), c.filter) << c.where;
}

TEST(SqlDialect, KeywordsIgnoreCaseAndOrderCanDescend) {
    const auto query = ParseSqlDialect("select cn,mail from 'LDAP://h/DC=x' where cn='a' "
                                       "order by Mail desc",
                                       {});
    EXPECT_EQ(query.attributes, (std::vector<std::string>{"cn", "mail"}));
    EXPECT_EQ(query.root.dn, "DC=x");
    EXPECT_EQ(query.filter, "(cn=a)");
    EXPECT_EQ(query.orderBy, "Mail");
    EXPECT_TRUE(query.descending);
    EXPECT_EQ(ParseSqlDialect("SELECT cn FROM 'GC://h'", {}).filter, "(objectClass=*)");
}

TEST(SqlDialect, MalformedQueriesAreSyntaxErrors) {
    for (const std::string text :
         {"", "SELECT cn", "SELECT cn FROM GC://h", "SELECT cn FROM 'GC://h",
          "SELECT FROM 'GC://h'", "SELECT cn, FROM 'GC://h'", "SELECT cn FROM 'GC://h' WHERE cn=",
          "SELECT cn FROM 'GC://h' WHERE (cn='a'", "SELECT cn FROM 'GC://h' WHERE cn='a' AND",
          "SELECT cn FROM 'GC://h' WHERE sAMAccountName='o'brien'",
          "SELECT cn FROM 'GC://h' WHERE cn='a' ; DROP", "SELEKT cn FROM 'GC://h'"}) {
        SCOPED_TRACE(text);
        ExpectRefused(
            [&] { ParseSqlDialect(text, [](const DirectoryPath&) { return kSchemaDn; }); },
            platform::hr::DB_E_ERRORSINCOMMAND, "directory query");
    }
}

// The client library refuses other attribute descriptions, so they are refused before a search.
TEST(SqlDialect, AConditionNamesAnLdapAttribute) {
    for (const std::string attribute :
         {"cn", "msExchHomeServerName", "msDS-Approx-Immed-Subordinates", "cn;binary",
          "cn;lang-en;x-1", "1.2.840.113556.1.4.221", "2;binary"}) {
        EXPECT_EQ(FilterOf(attribute + "='v'"), "(" + attribute + "=v)");
    }
    for (const std::string attribute : {"uidNumb\272\272er", "c\u00E9", "c_n", "_cn", "c.n", "-cn",
                                        "cn;", "cn;;x", "cn;b_x", "1..2", "1.2.", "1.a"}) {
        SCOPED_TRACE(attribute);
        ExpectRefused([&] { FilterOf(attribute + "='v'"); }, platform::hr::DB_E_ERRORSINCOMMAND,
                      "position 34");
    }
}

std::string Repeated(const std::string& piece, int times) {
    std::string text;
    while (times-- > 0)
        text += piece;
    return text;
}

// Nesting is recursion here and in the filter's encoder: a hostile depth must not overflow it.
TEST(SqlDialect, NestingIsLimited) {
    EXPECT_EQ(FilterOf(Repeated("NOT ", 256) + "cn='a'"),
              Repeated("(!", 256) + "(cn=a)" + Repeated(")", 256));
    EXPECT_EQ(FilterOf(Repeated("(", 256) + "cn='a'" + Repeated(")", 256)), "(cn=a)");
    const std::string flat = Repeated("cn='a' OR ", 5000) + "cn='b'";
    EXPECT_EQ(FilterOf(flat).size(),
              std::string("(|)").size() + 5001 * std::string("(cn=a)").size());
    for (const auto& where :
         {Repeated("NOT ", 257) + "cn='a'", Repeated("(", 257) + "cn='a'" + Repeated(")", 257),
          Repeated("NOT (", 100000) + "cn='a'" + Repeated(")", 100000)}) {
        SCOPED_TRACE(where.size());
        ExpectRefused([&] { FilterOf(where); }, platform::hr::DB_E_ERRORSINCOMMAND,
                      "nested at most 256 deep");
    }
}

TEST(LdapDialect, SplitsBaseFilterAttributesAndScope) {
    struct Case {
        std::string text;
        std::vector<std::string> parts; // host, DN, filter, then the attributes
        SearchScope scope;
    } cases[] = {
        // The sink's owner query is run against the private directory by its integration test.
        {"<LDAP://h/OU=x,DC=y>;(cn=*);cn, mail ,sn;onelevel",
         {"h", "OU=x,DC=y", "(cn=*)", "cn", "mail", "sn"},
         SearchScope::OneLevel},
        // No scope: the whole subtree.
        {"<LDAP://h>;(cn=a);cn", {"h", "", "(cn=a)", "cn"}, SearchScope::Subtree},
        // A ";" inside the filter stays there.
        {"<LDAP://h>;(mail=a;b@*);proxyAddresses;subtree",
         {"h", "", "(mail=a;b@*)", "proxyAddresses"},
         SearchScope::Subtree},
    };
    EXPECT_FALSE(IsLdapDialect("SELECT cn FROM 'GC://h'"));
    for (const auto& c : cases) {
        EXPECT_TRUE(IsLdapDialect(c.text)) << c.text;
        const auto query = ParseLdapDialect(c.text);
        std::vector<std::string> parts{query.root.host, query.root.dn, query.filter};
        parts.insert(parts.end(), query.attributes.begin(), query.attributes.end());
        EXPECT_EQ(parts, c.parts) << c.text;
        EXPECT_EQ(query.scope, c.scope) << c.text;
    }
}

TEST(LdapDialect, RejectsTextsOfAnotherShape) {
    for (const std::string text :
         {"<LDAP://h>", "<LDAP://h;(cn=a);cn", "<LDAP://h>;(cn=a)", "<LDAP://h>;;cn;subtree",
          "<LDAP://h>;(cn=a);cn,,sn;subtree", "LDAP://h;(cn=a);cn"}) {
        EXPECT_EQ(testsupport::FailureOf([&] { ParseLdapDialect(text); }).number,
                  platform::hr::DB_E_ERRORSINCOMMAND)
            << text;
    }
}

// The client library's encoder recurses, so depth is limited; escaped parentheses do not count.
TEST(LdapDialect, FilterNestingIsLimited) {
    const auto nested = [](int depth) {
        return Repeated("(!", depth) + "(cn=a)" + Repeated(")", depth);
    };
    EXPECT_EQ(ParseLdapDialect("<LDAP://h>;" + nested(255) + ";cn").filter, nested(255));
    EXPECT_EQ(ParseLdapDialect("<LDAP://h>;(cn=\\28\\28\\28);cn").filter, "(cn=\\28\\28\\28)");
    for (int depth : {256, 100000}) {
        SCOPED_TRACE(depth);
        ExpectRefused([&] { ParseLdapDialect("<LDAP://h>;" + nested(depth) + ";cn"); },
                      platform::hr::DB_E_ERRORSINCOMMAND, "nests more than 256 deep");
    }
}

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
        EXPECT_EQ(std::tuple(parsed.scheme, parsed.host, parsed.dn, parsed.rootDse,
                             parsed.IsGlobalCatalog()),
                  std::tuple(c.scheme, c.host, c.dn, c.rootDse, c.globalCatalog))
            << c.path;
    }
}

TEST(ParseDirectoryPath, RejectsMalformedPaths) {
    for (const std::string path : {"", "corp.example.com", "WinNT://host/user", "LDAP:/host",
                                   "LDAP:host", "LDAP://host/", "LDAP:///DC=x", "GC//host"}) {
        SCOPED_TRACE(path);
        ExpectRefused([&] { ParseDirectoryPath(path); }, platform::hr::E_ADS_BAD_PATHNAME,
                      '"' + path + '"');
    }
}

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
        const auto address = ResolveServer(
            ParseDirectoryPath(c.path),
            platform::host::MachineNames{"MAIL01", "corp.example.com", "example.com",
                                         "dc01.corp.example.com", "ldapi://%2Ftmp%2Fs"});
        EXPECT_EQ(address.uri, c.uri) << c.path;
        if (c.uri.starts_with("ldapi:")) {
            EXPECT_EQ(address.namingContext, c.namingContext) << c.path;
        } else { // without a server folder the same holds
            EXPECT_EQ(ResolveServer(ParseDirectoryPath(c.path), std::nullopt).uri, c.uri) << c.path;
        }
    }
}
