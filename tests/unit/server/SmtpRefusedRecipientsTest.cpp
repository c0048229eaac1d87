// Probing for addresses: after so many refused recipients in one session the session is closed
// with 421, so that guessing costs a new connection every few guesses.

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpSession.h"

#include "SmtpTestBackend.h"

#include <gtest/gtest.h>

using namespace smtptest;
namespace serverlog = server::log;

namespace {

std::string Rcpts(const std::string& prefix, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "RCPT TO:<" + prefix + std::to_string(i) + "@example.com>\r\n";
    return lines;
}

struct RefusedCase {
    const char* name;
    std::size_t limit;
    std::string rcpts; // after EHLO and MAIL
    std::vector<int> codes;
    bool closed;
    Protocol protocol = Protocol::Smtp;
};

class SmtpRefusedRecipients : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SmtpRefusedRecipients, CloseTheSessionAtTheLimit) {
    const auto& c = GetParam();
    const serverlog::Capture capture;
    TestBackend backend;
    Limits limits;
    if (c.limit != static_cast<std::size_t>(-1))
        limits.maxRefusedRecipients = c.limit;
    Session session("mail01.example.com", limits, backend, c.protocol, "192.0.2.7");
    const auto replies =
        session.Feed((c.protocol == Protocol::Lmtp ? kLhlo : kEhlo) + kMail + c.rcpts);
    ASSERT_GE(replies.size(), 2u);
    EXPECT_EQ(Codes({replies.begin() + 2, replies.end()}), c.codes);
    EXPECT_EQ(session.Closed(), c.closed);
    EXPECT_EQ(
        servertest::Starting(capture.Lines(), "too-many-refused session=" + session.Id()).size(),
        c.closed ? 1u : 0u);
    if (c.closed) {
        EXPECT_EQ(replies.back().Wire(), "421 4.7.0 mail01.example.com too many refused "
                                         "recipients, closing the connection\r\n");
        EXPECT_TRUE(session.Feed("NOOP\r\n").empty()) << "nothing after the 421";
    }
}

const std::string kOk = "RCPT TO:<alice@example.com>\r\n";
const std::string kAgain = "RSET\r\n" + kMail;

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpRefusedRecipients,
    ::testing::Values(
        RefusedCase{"OneBelowTheLimitGoesOn", 3, Rcpts("no", 2) + kOk, {550, 550, 250}, false},
        RefusedCase{"TheLimitCloses", 3, Rcpts("no", 3) + kOk, {550, 550, 421}, true},
        // An address the prober knows in between would otherwise reset its count.
        RefusedCase{"AnAcceptedRecipientDoesNotReset",
                    3,
                    Rcpts("no", 1) + kOk + Rcpts("no", 1) + kOk + Rcpts("no", 1),
                    {550, 250, 550, 250, 421},
                    true},
        RefusedCase{"ANewTransactionDoesNotReset",
                    3,
                    Rcpts("no", 2) + kAgain + Rcpts("no", 1),
                    {550, 550, 250, 250, 421},
                    true},
        // Failures of the directory are not the client's doing.
        RefusedCase{"TransientFailuresDoNotCount",
                    2,
                    Rcpts("down", 3) + Rcpts("no", 1) + kOk,
                    {451, 451, 451, 550, 250},
                    false},
        RefusedCase{"ZeroMeansNoLimit", 0, Rcpts("no", 30), std::vector<int>(30, 550), false},
        RefusedCase{"TheDefaultIsTwenty", static_cast<std::size_t>(-1), Rcpts("no", 20),
                    [] {
                        std::vector<int> codes(19, 550);
                        codes.push_back(421);
                        return codes;
                    }(),
                    true},
        RefusedCase{"LmtpToo", 2, Rcpts("no", 2), {550, 421}, true, Protocol::Lmtp}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
