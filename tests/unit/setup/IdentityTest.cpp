// The identity the setup program proposes for the COM+ application: the domain taken from the
// category DN, and the account query with its apostrophes doubled.

#include "setup/IdentityProposal.h"

#include <gtest/gtest.h>

using lorvanta::setup::AccountQuery;
using lorvanta::setup::IdentityFromCategory;

TEST(IdentityFromCategory, TakesTheDomainFromTheCategoryDn) {
    struct Case {
        const char* category;
        const char* identity;
    } cases[] = {
        {"CN=Person,CN=Schema,CN=Configuration,DC=a,DC=b,DC=c", "a.b.c\\ExAdmin"},
        {"CN=Person,CN=Schema,CN=Configuration,DC=example,DC=com", "example.com\\ExAdmin"},
        {"", "ExAdmin"},
        {"CN=Person,CN=Schema", "ExAdmin"},
        {"CN=Person,DC=", "ExAdmin"},
        {"CN=Person,DC=   ", "ExAdmin"},
        {"CN=Person,DC=my domain,DC=com", "mydomain.com\\ExAdmin"},
        {"cn=person,dc=a,dc=b", "a,dc=b\\ExAdmin"}, // lower-case separators are not joined
        {"CN=Person,DC=a,DC=b,OU=x", "a.b\\ExAdmin"},
        {"CN=x,DC=ab,OU=y", "ab\\ExAdmin"},
        {"CN=x,DC=a,OU=y", "a,OU=y\\ExAdmin"}, // a comma before the third character stays
    };
    for (const auto& c : cases)
        EXPECT_EQ(IdentityFromCategory(c.category, "ExAdmin"), c.identity) << c.category;
}

TEST(AccountQuery, IsTheFixedTextWithApostrophesDoubled) {
    EXPECT_EQ(AccountQuery("GC://dc01.example.com", "O'Brien"),
              "SELECT sAMAccountName, cn, objectCategory FROM 'GC://dc01.example.com' WHERE "
              "objectcategory='person' AND sAMAccountName='O''Brien'");
}
