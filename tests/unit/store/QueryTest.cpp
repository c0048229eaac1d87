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

// Criteria nested or chained far beyond any real use are refused, rather than read into a tree
// whose evaluation and release would overflow the stack of the save that reads them.
std::string Nested(int levels) {
    return " WHERE " + std::string(static_cast<std::size_t>(levels), '(') + "\"a\" = 1" +
           std::string(static_cast<std::size_t>(levels), ')');
}
std::string Negated(int times) {
    std::string text = " WHERE ";
    for (int i = 0; i < times; ++i)
        text += "NOT ";
    return text + "\"a\" = 1";
}
std::string Chained(int comparisons) {
    std::string text = " WHERE \"a\" = 1";
    for (int i = 1; i < comparisons; ++i)
        text += " AND \"a\" = 1";
    return text;
}

struct ShapeCase {
    const char* name;
    std::string criteria;
    bool accepted;
};

class CriteriaShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CriteriaShape, IsBoundedInDepthAndSize) {
    const std::map<std::string, Variant> item = {{"a", Variant(1)}};
    if (GetParam().accepted) {
        // An even number of NOTs, and everything else a plain match: all of these hold.
        EXPECT_TRUE(Holds(ParseCriteria(GetParam().criteria).get(), item));
        return;
    }
    try {
        ParseCriteria(GetParam().criteria);
        FAIL() << "accepted";
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), hr::DB_E_ERRORSINCOMMAND);
    }
}

INSTANTIATE_TEST_SUITE_P(Dialect, CriteriaShape,
                         ::testing::Values(ShapeCase{"NestedToTheLimit", Nested(200), true},
                                           ShapeCase{"NestedOneDeeper", Nested(201), false},
                                           ShapeCase{"NestedWithoutEnd", Nested(200000), false},
                                           ShapeCase{"NegatedToTheLimit", Negated(200), true},
                                           ShapeCase{"NegatedOnceMore", Negated(201), false},
                                           ShapeCase{"ChainedToTheLimit", Chained(5000), true},
                                           ShapeCase{"ChainedOnceMore", Chained(5001), false},
                                           ShapeCase{"ChainedWithoutEnd", Chained(200000), false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
