// The texts the store is given to find items by: its query dialect (the clauses it reads, the
// criteria that hold on an item, and the malformed or too deeply nested queries it refuses), and
// store URLs in both forms, taken apart into domain folder, mailbox and path, and the malformed
// ones refused with a number and the URL in the description.

#include "platform/store/Query.h"
#include "platform/core/Error.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreUrl.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::store::query;

namespace {

// The registration lookup's shape and its quote fault are checked end to end by the setup
// program's store tests; here the dialect's other forms.
TEST(Query, ReadsTraversalColumnsAndKeywordsInAnyCase) {
    auto query =
        ParseQuery("SeLeCt * FrOm ScOpE('DEEP Traversal OF \"file://./x\"') wHeRe \"a\" = 1");
    EXPECT_TRUE(query.columns.empty());
    EXPECT_EQ(query.traversal, Traversal::Deep);
    EXPECT_EQ(query.scopeUrl, "file://./x");
    query = ParseQuery("select \"a\", \"b\" from scope('shallow traversal of \"u\"')");
    EXPECT_EQ(query.columns, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(query.traversal, Traversal::Shallow);
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
    const auto failure = testsupport::FailureOf([] { ParseCriteria(GetParam()); });
    EXPECT_EQ(failure.number, hr::DB_E_ERRORSINCOMMAND) << GetParam();
    EXPECT_NE(failure.description.find("position"), std::string::npos) << failure.description;
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
        const auto failure = testsupport::FailureOf([&] { ParseCriteria(criteria); });
        EXPECT_EQ(failure.number, hr::DB_E_ERRORSINCOMMAND) << criteria.size();
        EXPECT_NE(failure.description.find("more than 1000"), std::string::npos)
            << failure.description;
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

const store::ServerNames kServer{"MAIL01", "Example.com"};

// A parsed URL's form, domain folder, mailbox and path, one entry each.
std::vector<std::string> Parts(const store::StoreUrl& url) {
    std::vector<std::string> parts{url.form == store::UrlForm::File ? "file" : "http", url.domain,
                                   url.mailbox};
    parts.insert(parts.end(), url.path.begin(), url.path.end());
    return parts;
}

struct Parsed {
    const char* url;
    std::vector<std::string> parts;
};

class StoreUrlParses : public ::testing::TestWithParam<Parsed> {};

TEST_P(StoreUrlParses, IntoDomainMailboxAndPath) {
    EXPECT_EQ(Parts(store::ParseStoreUrl(GetParam().url, kServer)), GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    BothForms, StoreUrlParses,
    ::testing::Values(
        Parsed{"file://./backofficestorage/example.com/mbx/alice",
               {"file", "example.com", "alice"}},
        Parsed{"FILE://./BackOfficeStorage/example.com/MBX/alice/Inbox/Lorvanta.reg",
               {"file", "example.com", "alice", "Inbox", "Lorvanta.reg"}},
        Parsed{"http://mail01.example.com/exadmin/example.com/mbx/bob/inbox",
               {"http", "example.com", "bob", "inbox"}},
        // An empty folder name leaves a trailing or doubled "/", which names nothing extra.
        Parsed{"file://./backofficestorage/example.com/mbx/alice//Lorvanta.reg",
               {"file", "example.com", "alice", "Lorvanta.reg"}},
        Parsed{"file://./backofficestorage/example.com/mbx", {"file", "example.com", ""}}));

struct Refused {
    const char* url;
    std::int32_t number;
};

class StoreUrlRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(StoreUrlRefuses, WithANumberAndTheUrlInTheDescription) {
    const auto failure =
        testsupport::FailureOf([] { store::ParseStoreUrl(GetParam().url, kServer); });
    EXPECT_EQ(failure.number, GetParam().number) << GetParam().url;
    EXPECT_NE(failure.description.find(GetParam().url), std::string::npos) << failure.description;
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, StoreUrlRefuses,
    ::testing::Values(
        Refused{"http://mail02.example.com/exadmin/example.com/mbx/alice",
                store::hr::ERROR_BAD_NETPATH},
        Refused{"http://mail01/public/example.com/mbx/alice", store::hr::ERROR_INVALID_NAME},
        Refused{"ftp://./backofficestorage/example.com/mbx/alice", store::hr::ERROR_INVALID_NAME},
        Refused{"file://./backofficestorage/example.com/public/alice",
                store::hr::ERROR_INVALID_NAME},
        Refused{"alice", store::hr::ERROR_INVALID_NAME}));

} // namespace
