// The store's query dialect and store URLs: what they read and what they refuse.

#include "platform/store/Query.h"
#include "platform/core/Error.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreUrl.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::store::query;

namespace {

using testsupport::ExpectRefused;

// The registration lookup's shape and quote fault are checked end to end by the setup tests.
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

// The item the criteria are tried on.
const std::map<std::string, Variant> kItem = {
    {"DAV:ishidden", Variant(false)},
    {"DAV:displayname", Variant("It's here")},
    {"size", Variant(42)},
    {"flag", Variant("TRUE")},
    {"keywords", Variant(Variant::TextArray{"red", "blue"})},
};

TEST(Query, CriteriaHoldOnTheItemOrNot) {
    for (const char* criteria :
         {" WHERE \"DAV:ishidden\" = FALSE", "\"DAV:ishidden\" = False", "", "   ",
          "where \"DAV:ishidden\" <> TRUE", "where \"DAV:displayname\" = 'It''s here'",
          "where \"DAV:displayname\" = 'it''S HERE'", "where \"size\" = 42",
          "where \"size\" = '42'", "where \"flag\" = true", "where \"keywords\" = 'BLUE'",
          "where NOT \"size\" = 41",
          "where \"size\" = 1 OR \"size\" = 42 AND \"DAV:ishidden\" = false",
          "where \"missing\" = 'x' OR \"size\" = 42", "where 1 = 1"})
        EXPECT_TRUE(Holds(ParseCriteria(criteria).get(), kItem)) << criteria;
    for (const char* criteria :
         {"WHERE \"DAV:ishidden\" = true", "where \"DAV:ishidden\" != false",
          "where \"DAV:displayname\" = 'Its here'", "where \"size\" = -42",
          "where \"keywords\" = 'green'", "where not (\"size\" = 42 or \"size\" = 41)",
          "where (\"size\" = 1 OR \"size\" = 42) AND \"DAV:ishidden\" = true", "where 'a' = 'b'",
          // A property the item lacks makes a comparison unknown, even under NOT.
          "where \"missing\" = 'x'", "where \"missing\" <> 'x'", "where NOT \"missing\" = 'x'"})
        EXPECT_FALSE(Holds(ParseCriteria(criteria).get(), kItem)) << criteria;
}

TEST(Query, MalformedCriteriaAreSyntaxErrors) {
    for (const char* criteria :
         {"where", "where \"a\"", "where \"a\" =", "where \"a\" = 'open", "where \"open = 1",
          "where (\"a\" = 1", "where \"a\" = 1)", "where \"a\" = 1 AND", "where \"a\" < 1",
          "where \"a\" = maybe", "where \"a\" = 1 ; drop", "where \"a\" = 99999999999999999999"}) {
        SCOPED_TRACE(criteria);
        ExpectRefused([&] { ParseCriteria(criteria); }, hr::DB_E_ERRORSINCOMMAND, "position");
    }
}

std::string Repeated(const std::string& piece, int times) {
    std::string text;
    while (times-- > 0)
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
        SCOPED_TRACE(criteria.size());
        ExpectRefused([&] { ParseCriteria(criteria); }, hr::DB_E_ERRORSINCOMMAND, "more than 1000");
    }
}

TEST(Query, MalformedQueriesAreSyntaxErrors) {
    for (const char* query : {"", "select from scope('shallow traversal of \"u\"')",
                              "select \"a\" scope('shallow traversal of \"u\"')",
                              "select \"a\" from scope('wide traversal of \"u\"')",
                              "select \"a\" from scope('shallow traversal of u')",
                              "select \"a\" from scope('shallow traversal of \"u')",
                              "select \"a\" from scope('shallow traversal of \"u\" extra')",
                              "select \"a\" from scope('shallow traversal of \"u\"'",
                              "select \"a\", from scope('shallow traversal of \"u\"')",
                              "delete from scope('shallow traversal of \"u\"')"})
        EXPECT_THROW(ParseQuery(query), Error) << query;
}

const store::ServerNames kServer{"MAIL01", "Example.com"};

// A parsed URL's form, domain folder, mailbox and path, one entry each.
std::vector<std::string> Parts(const store::StoreUrl& url) {
    std::vector<std::string> parts{url.form == store::UrlForm::File ? "file" : "http", url.domain,
                                   url.mailbox};
    parts.insert(parts.end(), url.path.begin(), url.path.end());
    return parts;
}

TEST(StoreUrl, ParsesBothFormsIntoDomainMailboxAndPath) {
    const struct {
        const char* url;
        std::vector<std::string> parts;
    } cases[] = {
        {"file://./backofficestorage/example.com/mbx/alice", {"file", "example.com", "alice"}},
        {"FILE://./BackOfficeStorage/example.com/MBX/alice/Inbox/Lorvanta.reg",
         {"file", "example.com", "alice", "Inbox", "Lorvanta.reg"}},
        {"http://mail01.example.com/exadmin/example.com/mbx/bob/inbox",
         {"http", "example.com", "bob", "inbox"}},
        // An empty folder name leaves a trailing or doubled "/", which names nothing extra.
        {"file://./backofficestorage/example.com/mbx/alice//Lorvanta.reg",
         {"file", "example.com", "alice", "Lorvanta.reg"}},
        {"file://./backofficestorage/example.com/mbx", {"file", "example.com", ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parts(store::ParseStoreUrl(c.url, kServer)), c.parts) << c.url;
}

TEST(StoreUrl, MalformedOnesAreRefusedWithANumberAndTheUrl) {
    const struct {
        const char* url;
        std::int32_t number;
    } cases[] = {
        {"http://mail02.example.com/exadmin/example.com/mbx/alice", store::hr::ERROR_BAD_NETPATH},
        {"http://mail01/public/example.com/mbx/alice", store::hr::ERROR_INVALID_NAME},
        {"ftp://./backofficestorage/example.com/mbx/alice", store::hr::ERROR_INVALID_NAME},
        {"file://./backofficestorage/example.com/public/alice", store::hr::ERROR_INVALID_NAME},
        {"alice", store::hr::ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        ExpectRefused([&] { store::ParseStoreUrl(c.url, kServer); }, c.number, c.url);
    }
}

} // namespace
