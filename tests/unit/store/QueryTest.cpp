#include "platform/store/Query.h"
#include "platform/core/Error.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::store::query;

namespace {

const std::string DQ = "\"";

// The lookup query of an event registration, exactly as the setup program builds it.
std::string RegistrationLookup(const std::string& folderUrl, const std::string& displayName) {
    return "select " + (" " + DQ + "DAV:displayname" + DQ) + " from scope ('shallow traversal of " +
           DQ + folderUrl + DQ + "') " + " WHERE " + DQ + "DAV:displayname" + DQ + " = '" +
           displayName + "'" + " AND " + DQ + "DAV:ishidden" + DQ + " = true AND " + DQ +
           "DAV:isfolder" + DQ + " = false ";
}

std::map<std::string, Variant> Registration(bool hidden, bool folder, const char* name) {
    return {{"DAV:displayname", Variant(name)},
            {"DAV:ishidden", Variant(hidden)},
            {"DAV:isfolder", Variant(folder)}};
}

TEST(Query, ReadsTheRegistrationLookup) {
    const auto url = "file://./backofficestorage/example.com/mbx/alice/Inbox";
    const auto query = ParseQuery(RegistrationLookup(url, "Lorvanta.reg"));
    EXPECT_EQ(query.columns, std::vector<std::string>{"DAV:displayname"});
    EXPECT_EQ(query.traversal, Traversal::Shallow);
    EXPECT_EQ(query.scopeUrl, url);
    EXPECT_TRUE(Holds(query.where.get(), Registration(true, false, "Lorvanta.reg")));
    EXPECT_TRUE(Holds(query.where.get(), Registration(true, false, "LORVANTA.REG")));
    EXPECT_FALSE(Holds(query.where.get(), Registration(false, false, "Lorvanta.reg")));
    EXPECT_FALSE(Holds(query.where.get(), Registration(true, true, "Lorvanta.reg")));
    EXPECT_FALSE(Holds(query.where.get(), Registration(true, false, "Other.reg")));
}

TEST(Query, ADisplayNameWithAQuoteBreaksTheQueryAndTheErrorSaysWhere) {
    try {
        ParseQuery(RegistrationLookup("file://./backofficestorage/d/mbx/a/Inbox", "O'Brien.reg"));
        FAIL() << "a broken query was accepted";
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), hr::DB_E_ERRORSINCOMMAND);
        EXPECT_NE(error.Description().find("position"), std::string::npos);
        EXPECT_NE(error.Description().find("Brien"), std::string::npos) << error.Description();
    }
}

TEST(Query, ReadsDeepTraversalStarAndKeywordsInAnyCase) {
    const auto query =
        ParseQuery("SeLeCt * FrOm ScOpE('DEEP Traversal OF \"file://./x\"') wHeRe \"a\" = 1");
    EXPECT_TRUE(query.columns.empty());
    EXPECT_EQ(query.traversal, Traversal::Deep);
    EXPECT_EQ(query.scopeUrl, "file://./x");
}

TEST(Query, ReadsSeveralColumns) {
    const auto query = ParseQuery("select \"a\", \"b\" from scope('shallow traversal of \"u\"')");
    EXPECT_EQ(query.columns, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(query.where, nullptr);
}

struct Case {
    const char* criteria;
    bool holds;
};

class CriteriaHold : public ::testing::TestWithParam<Case> {};

// The item the criteria are tried on.
const std::map<std::string, Variant> kItem = {
    {"DAV:ishidden", Variant(false)},
    {"DAV:displayname", Variant("It's here")},
    {"size", Variant(42)},
    {"flag", Variant("TRUE")},
    {"keywords", Variant(Variant::TextArray{"red", "blue"})},
};

TEST_P(CriteriaHold, OnTheItem) {
    EXPECT_EQ(Holds(ParseCriteria(GetParam().criteria).get(), kItem), GetParam().holds)
        << GetParam().criteria;
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, CriteriaHold,
    ::testing::Values(
        Case{" WHERE \"DAV:ishidden\" = FALSE", true}, Case{"WHERE \"DAV:ishidden\" = true", false},
        Case{"\"DAV:ishidden\" = False", true}, Case{"", true}, Case{"   ", true},
        Case{"where \"DAV:ishidden\" <> TRUE", true},
        Case{"where \"DAV:ishidden\" != false", false},
        Case{"where \"DAV:displayname\" = 'It''s here'", true},
        Case{"where \"DAV:displayname\" = 'it''S HERE'", true},
        Case{"where \"DAV:displayname\" = 'Its here'", false}, Case{"where \"size\" = 42", true},
        Case{"where \"size\" = '42'", true}, Case{"where \"size\" = -42", false},
        Case{"where \"flag\" = true", true}, Case{"where \"keywords\" = 'BLUE'", true},
        Case{"where \"keywords\" = 'green'", false}, Case{"where NOT \"size\" = 41", true},
        Case{"where not (\"size\" = 42 or \"size\" = 41)", false},
        Case{"where \"size\" = 1 OR \"size\" = 42 AND \"DAV:ishidden\" = false", true},
        Case{"where (\"size\" = 1 OR \"size\" = 42) AND \"DAV:ishidden\" = true", false},
        // A property the item lacks makes a comparison unknown, even under NOT.
        Case{"where \"missing\" = 'x'", false}, Case{"where \"missing\" <> 'x'", false},
        Case{"where NOT \"missing\" = 'x'", false},
        Case{"where \"missing\" = 'x' OR \"size\" = 42", true}, Case{"where 1 = 1", true},
        Case{"where 'a' = 'b'", false}));

class CriteriaRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(CriteriaRefused, AsSyntaxErrors) {
    try {
        ParseCriteria(GetParam());
        FAIL() << "accepted: " << GetParam();
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), hr::DB_E_ERRORSINCOMMAND);
        EXPECT_NE(error.Description().find("position"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, CriteriaRefused,
    ::testing::Values("where", "where \"a\"", "where \"a\" =", "where \"a\" = 'open",
                      "where \"open = 1", "where (\"a\" = 1", "where \"a\" = 1)",
                      "where \"a\" = 1 AND", "where \"a\" < 1", "where \"a\" = maybe",
                      "where \"a\" = 1 ; drop", "where \"a\" = 99999999999999999999"));

std::string Repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Criteria are stored data, read at every save: a hostile length or depth must be refused,
// not overflow the stack while it is parsed, evaluated or freed.
TEST(Query, CriteriaHoldAtMostAThousandParts) {
    const auto longest = "where " + Repeated("\"size\" = 42 AND ", 999) + "\"size\" = 42";
    EXPECT_TRUE(Holds(ParseCriteria(longest).get(), kItem));
    EXPECT_TRUE(
        Holds(ParseCriteria("where " + Repeated("NOT ", 998) + "\"size\" = 42").get(), kItem));
    for (const auto& criteria :
         {longest + " AND \"size\" = 42", "where " + Repeated("NOT ", 1000) + "\"size\" = 42",
          "where " + Repeated("\"size\" = 42 OR ", 30000) + "\"size\" = 42",
          "where " + Repeated("(", 50000) + "\"size\" = 42" + Repeated(")", 50000)}) {
        try {
            ParseCriteria(criteria);
            ADD_FAILURE() << "accepted criteria " << criteria.size() << " characters long";
        } catch (const Error& error) {
            EXPECT_EQ(error.Number(), hr::DB_E_ERRORSINCOMMAND);
            EXPECT_NE(error.Description().find("more than 1000"), std::string::npos)
                << error.Description();
        }
    }
}

class QueriesRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(QueriesRefused, AsSyntaxErrors) {
    EXPECT_THROW(ParseQuery(GetParam()), Error) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Dialect, QueriesRefused,
    ::testing::Values("", "select from scope('shallow traversal of \"u\"')",
                      "select \"a\" scope('shallow traversal of \"u\"')",
                      "select \"a\" from scope('wide traversal of \"u\"')",
                      "select \"a\" from scope('shallow traversal of u')",
                      "select \"a\" from scope('shallow traversal of \"u')",
                      "select \"a\" from scope('shallow traversal of \"u\" extra')",
                      "select \"a\" from scope('shallow traversal of \"u\"'",
                      "select \"a\", from scope('shallow traversal of \"u\"')",
                      "delete from scope('shallow traversal of \"u\"')"));

} // namespace
