// The SMTP front's reading of command lines and of the paths in MAIL FROM and RCPT TO.

#include "server/smtp/SmtpSyntax.h"

#include <gtest/gtest.h>

using namespace server::smtp;

namespace {

TEST(SmtpCommandLine, TheVerbIsCapitalisedAndTheArgumentKeptAsSent) {
    EXPECT_EQ(SplitCommandLine("ehlo Client.Example").verb, "EHLO");
    EXPECT_EQ(SplitCommandLine("ehlo Client.Example").argument, "Client.Example");
    EXPECT_EQ(SplitCommandLine("QUIT").verb, "QUIT");
    EXPECT_EQ(SplitCommandLine("QUIT").argument, "");
    EXPECT_EQ(SplitCommandLine("MAIL FROM:<a@b>  SIZE=1").argument, "FROM:<a@b>  SIZE=1");
}

// The argument, the keyword before the colon ("FROM" may name the empty path), and the address
// with its parameters as "address KEY=value KEY", or null when the argument is refused.
struct PathCase {
    const char* argument;
    const char* keyword;
    const char* parsed;
};

class SmtpPathArgument : public ::testing::TestWithParam<PathCase> {};

TEST_P(SmtpPathArgument, ParsesOrRefuses) {
    const auto& c = GetParam();
    const auto parsed = ParsePathArgument(c.argument, c.keyword, c.keyword == std::string("FROM"));
    ASSERT_EQ(parsed.has_value(), c.parsed != nullptr) << c.argument;
    if (!parsed)
        return;
    auto got = parsed->address;
    for (const auto& [key, value] : parsed->parameters)
        got += " " + key + (value.empty() ? "" : "=" + value);
    EXPECT_EQ(got, c.parsed) << c.argument;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpPathArgument,
    ::testing::Values(
        PathCase{"FROM:<bob@example.org>", "FROM", "bob@example.org"},
        PathCase{"from:<bob@example.org>", "FROM", "bob@example.org"},
        PathCase{"FROM: <bob@example.org>", "FROM", "bob@example.org"},
        PathCase{"FROM:<>", "FROM", ""}, PathCase{"TO:<>", "TO", nullptr},
        PathCase{"FROM:bob@example.org", "FROM", "bob@example.org"},
        PathCase{"TO:bob@example.org NOTIFY=NEVER", "TO", "bob@example.org NOTIFY=NEVER"},
        PathCase{"FROM:", "FROM", nullptr}, PathCase{"FROM:bob<b@example.org>", "FROM", nullptr},
        PathCase{"FROM:<bob@example.org", "FROM", nullptr},
        PathCase{"FROM<bob@example.org>", "FROM", nullptr},
        PathCase{"TO:<bob@example.org>", "FROM", nullptr}, PathCase{"FROM:<bob>", "FROM", nullptr},
        PathCase{"FROM:<@example.org>", "FROM", nullptr}, PathCase{"FROM:<bob@>", "FROM", nullptr},
        PathCase{"FROM:<b ob@example.org>", "FROM", nullptr},
        PathCase{"TO:<postmaster>", "TO", "postmaster"},
        PathCase{"TO:<PostMaster>", "TO", "postmaster"},
        PathCase{"TO:postmaster", "TO", "postmaster"},
        PathCase{"FROM:<postmaster>", "FROM", nullptr},
        PathCase{"TO:<\"alice\"@example.org>", "TO", "alice@example.org"},
        PathCase{"TO:<\"a.b\\c\"@example.org>", "TO", "a.bc@example.org"},
        PathCase{"TO:<\"a b\"@example.org>", "TO", "\"a b\"@example.org"},
        PathCase{"TO:<\"a..b\"@example.org>", "TO", "\"a..b\"@example.org"},
        PathCase{"TO:<\".a\"@example.org>", "TO", "\".a\"@example.org"},
        PathCase{"TO:<\"a > b\"@example.org>", "TO", "\"a > b\"@example.org"},
        PathCase{"TO:<@relay.example,@other.example:ann@example.com>", "TO", "ann@example.com"},
        PathCase{"FROM:<a@b.c> SIZE=1200 body=8BITMIME", "FROM", "a@b.c SIZE=1200 BODY=8BITMIME"},
        PathCase{"FROM:<a@b.c>  SMTPUTF8", "FROM", "a@b.c SMTPUTF8"},
        PathCase{"FROM:<a@b.c>SIZE=1", "FROM", nullptr},
        PathCase{"FROM:<a@b.c> =1", "FROM", nullptr}));

} // namespace
