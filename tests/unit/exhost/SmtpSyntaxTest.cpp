#include "smtp/SmtpSyntax.h"

#include <gtest/gtest.h>

using namespace exhost::smtp;

namespace {

TEST(SmtpCommandLine, TheVerbIsCapitalisedAndTheArgumentKeptAsSent) {
    EXPECT_EQ(SplitCommandLine("ehlo Client.Example").verb, "EHLO");
    EXPECT_EQ(SplitCommandLine("ehlo Client.Example").argument, "Client.Example");
    EXPECT_EQ(SplitCommandLine("QUIT").verb, "QUIT");
    EXPECT_EQ(SplitCommandLine("QUIT").argument, "");
    EXPECT_EQ(SplitCommandLine("MAIL FROM:<a@b>  SIZE=1").argument, "FROM:<a@b>  SIZE=1");
}

struct PathCase {
    const char* argument;
    const char* keyword;
    bool allowEmpty;
    bool valid;
    const char* address;
    std::vector<std::pair<std::string, std::string>> parameters;
};

class SmtpPathArgument : public ::testing::TestWithParam<PathCase> {};

TEST_P(SmtpPathArgument, ParsesOrRefuses) {
    const auto& c = GetParam();
    const auto parsed = ParsePathArgument(c.argument, c.keyword, c.allowEmpty);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.argument;
    if (!parsed)
        return;
    EXPECT_EQ(parsed->address, c.address);
    EXPECT_EQ(parsed->parameters, c.parameters);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpPathArgument,
    ::testing::Values(
        PathCase{"FROM:<bob@example.org>", "FROM", true, true, "bob@example.org", {}},
        PathCase{"from:<bob@example.org>", "FROM", true, true, "bob@example.org", {}},
        PathCase{"FROM: <bob@example.org>", "FROM", true, true, "bob@example.org", {}},
        PathCase{"FROM:<>", "FROM", true, true, "", {}},
        PathCase{"TO:<>", "TO", false, false, "", {}},
        PathCase{"FROM:bob@example.org", "FROM", true, true, "bob@example.org", {}},
        PathCase{"TO:bob@example.org NOTIFY=NEVER",
                 "TO",
                 false,
                 true,
                 "bob@example.org",
                 {{"NOTIFY", "NEVER"}}},
        PathCase{"FROM:", "FROM", true, false, "", {}},
        PathCase{"FROM:bob<b@example.org>", "FROM", true, false, "", {}},
        PathCase{"FROM:<bob@example.org", "FROM", true, false, "", {}},
        PathCase{"FROM<bob@example.org>", "FROM", true, false, "", {}},
        PathCase{"TO:<bob@example.org>", "FROM", true, false, "", {}},
        PathCase{"FROM:<bob>", "FROM", true, false, "", {}},
        PathCase{"FROM:<@example.org>", "FROM", true, false, "", {}},
        PathCase{"FROM:<bob@>", "FROM", true, false, "", {}},
        PathCase{"FROM:<b ob@example.org>", "FROM", true, false, "", {}},
        PathCase{"TO:<postmaster>", "TO", false, true, "postmaster", {}},
        PathCase{"TO:<PostMaster>", "TO", false, true, "postmaster", {}},
        PathCase{"TO:postmaster", "TO", false, true, "postmaster", {}},
        PathCase{"FROM:<postmaster>", "FROM", true, false, "", {}},
        PathCase{"TO:<\"alice\"@example.org>", "TO", false, true, "alice@example.org", {}},
        PathCase{"TO:<\"a.b\\c\"@example.org>", "TO", false, true, "a.bc@example.org", {}},
        PathCase{"TO:<\"a b\"@example.org>", "TO", false, true, "\"a b\"@example.org", {}},
        PathCase{"TO:<\"a..b\"@example.org>", "TO", false, true, "\"a..b\"@example.org", {}},
        PathCase{"TO:<\".a\"@example.org>", "TO", false, true, "\".a\"@example.org", {}},
        PathCase{"TO:<\"a > b\"@example.org>", "TO", false, true, "\"a > b\"@example.org", {}},
        PathCase{"TO:<@relay.example,@other.example:ann@example.com>",
                 "TO",
                 false,
                 true,
                 "ann@example.com",
                 {}},
        PathCase{"FROM:<a@b.c> SIZE=1200 body=8BITMIME",
                 "FROM",
                 true,
                 true,
                 "a@b.c",
                 {{"SIZE", "1200"}, {"BODY", "8BITMIME"}}},
        PathCase{"FROM:<a@b.c>  SMTPUTF8", "FROM", true, true, "a@b.c", {{"SMTPUTF8", ""}}},
        PathCase{"FROM:<a@b.c>SIZE=1", "FROM", true, false, "", {}},
        PathCase{"FROM:<a@b.c> =1", "FROM", true, false, "", {}}));

} // namespace
