// Parsing the directory's LDAP dialect: the parts it splits into, the texts it refuses, and the
// nesting limit that keeps a hostile filter from overflowing the stack.

#include "platform/directory/DirectoryQuery.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using platform::directory::IsLdapDialect;
using platform::directory::ParseLdapDialect;
using platform::directory::SearchScope;

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

std::string NestedFilter(int depth) {
    std::string filter;
    for (int i = 0; i < depth; ++i)
        filter += "(!";
    filter += "(cn=a)";
    for (int i = 0; i < depth; ++i)
        filter += ")";
    return filter;
}

// The client library encodes filters recursively and overflows its stack on a deep enough one,
// so the depth is limited here; escaped parentheses in values do not count.
TEST(LdapDialect, FilterNestingIsLimited) {
    EXPECT_EQ(ParseLdapDialect("<LDAP://h>;" + NestedFilter(255) + ";cn").filter,
              NestedFilter(255));
    EXPECT_EQ(ParseLdapDialect("<LDAP://h>;(cn=\\28\\28\\28);cn").filter, "(cn=\\28\\28\\28)");
    for (int depth : {256, 100000}) {
        const auto failure = testsupport::FailureOf(
            [&] { ParseLdapDialect("<LDAP://h>;" + NestedFilter(depth) + ";cn"); });
        EXPECT_EQ(failure.number, platform::hr::DB_E_ERRORSINCOMMAND) << depth;
        EXPECT_NE(failure.description.find("nests more than 256 deep"), std::string::npos);
    }
}
