// The batch switch read from the command line, the half-to-even rounding of window layouts, and
// the identity the setup program proposes for the COM+ application: the domain taken from the
// category DN, and the account query with its apostrophes doubled.

#include "setup/BatchSwitch.h"
#include "setup/IdentityProposal.h"
#include "setup/Twips.h"

#include <gtest/gtest.h>

using lorvanta::setup::AccountQuery;
using lorvanta::setup::ArgumentText;
using lorvanta::setup::IdentityFromCategory;
using lorvanta::setup::IsBatchSwitch;
using lorvanta::setup::RoundHalfEven;

TEST(BatchSwitch, RecognisesTheSwitchInAnyCase) {
    struct Case {
        std::vector<std::string> arguments;
        bool batch;
    } cases[] = {
        {{"-b"}, true},     {{"-B"}, true},       {{"/b"}, true},   {{"/B"}, true},
        {{"/batch"}, true}, {{"-bx", "y"}, true}, {{"b"}, false},   {{"-"}, false},
        {{"/x"}, false},    {{}, false},          {{"--b"}, false}, {{"x", "-b"}, false},
        {{"  -b"}, true}, // leading blanks are not part of the switch
    };
    for (const auto& c : cases) {
        const auto text = ArgumentText(c.arguments);
        EXPECT_EQ(IsBatchSwitch(text), c.batch) << "[" << text << "]";
    }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    struct Case {
        double value;
        long long rounded;
    } cases[] = {{12.5, 12},  {37.5, 38}, {0.5, 0},   {1.5, 2},   {2.4999, 2},
                 {2.5001, 3}, {-0.5, 0},  {-1.5, -2}, {-2.5, -2}, {100, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
}

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
