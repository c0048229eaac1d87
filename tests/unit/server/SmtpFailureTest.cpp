// A backend that throws, at every step of a session: the step gets a 451 4.3.0 naming an id and
// nothing of what failed, the log has that id with what was thrown, and the session, like every
// other one, goes on.

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpClient.h"
#include "server/smtp/SmtpServer.h"
#include "server/smtp/SmtpSession.h"

#include "SmtpTestBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace smtptest;
namespace serverlog = server::log;

namespace {

const std::regex kFailureReply("4\\.3\\.0 Internal error, id ([0-9A-F]{16})");

// The id a failure reply names, "" when it is not one.
std::string IdIn(const Reply& reply) {
    std::smatch match;
    const auto& text = reply.lines.empty() ? std::string() : reply.lines.back();
    return std::regex_search(text, match, kFailureReply) ? match[1].str() : "";
}

// The captured lines of one event with `field` among its fields.
std::vector<std::string> LinesWith(const serverlog::Capture& capture, const std::string& event,
                                   const std::string& field) {
    auto found = servertest::Starting(capture.Lines(), event + " ");
    std::erase_if(found, [&](const auto& line) { return line.find(" " + field) == line.npos; });
    return found;
}

// Every 451 of `codes` names an id.
struct FailingStepCase {
    const char* name;
    std::string input;
    std::vector<int> codes;
    std::string detail = "detail=\"" + kSecret + "\""; // what the log says was thrown
    Protocol protocol = Protocol::Smtp;
};

class SmtpFailingStep : public ::testing::TestWithParam<FailingStepCase> {};

TEST_P(SmtpFailingStep, Gets451WithAnIdThatTheLogExplains) {
    const auto& c = GetParam();
    const serverlog::Capture capture;
    TestBackend backend;
    Session session("mail01.example.com", Limits{}, backend, c.protocol, "192.0.2.7");
    const auto replies = session.Feed(c.input);
    std::size_t failures = 0;
    for (const auto& reply : replies) {
        EXPECT_EQ(reply.Wire().find("/srv"), std::string::npos) << reply.Wire();
        EXPECT_EQ(reply.Wire().find("I/O"), std::string::npos) << reply.Wire();
        const auto id = IdIn(reply);
        if (id.empty())
            continue;
        ++failures;
        EXPECT_EQ(reply.code, 451);
        const auto logged = LinesWith(capture, "failure", "id=" + id);
        ASSERT_EQ(logged.size(), 1u) << "one line for id " << id;
        EXPECT_NE(logged[0].find("session=" + session.Id()), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find("client=192.0.2.7"), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find(c.detail), std::string::npos) << logged[0];
    }
    EXPECT_EQ(Codes(replies), c.codes);
    EXPECT_EQ(failures, static_cast<std::size_t>(std::count(c.codes.begin(), c.codes.end(), 451)));
    EXPECT_FALSE(session.Closed());
}

const std::string kStored = "DATA\r\nSubject: fine\r\n\r\n.\r\n";
const std::string kThrown = "DATA\r\nSubject: throw\r\n\r\n.\r\n";

const FailingStepCase kSteps[] = {
    // The session goes on after the failed lookup: the next recipient and the message work.
    {"Rcpt",
     kEhlo + kMail + "RCPT TO:<throw@example.com>\r\n" + "RCPT TO:<alice@example.com>\r\n" +
         kStored,
     {250, 250, 451, 250, 354, 250}},
    {"RcptPlatformError",
     kEhlo + kMail + "RCPT TO:<platform@example.com>\r\n",
     {250, 250, 451},
     "(0x80004005)"},
    {"EndOfData",
     kEhlo + kMail + "RCPT TO:<alice@example.com>\r\n" + kThrown + kMail +
         "RCPT TO:<alice@example.com>\r\n" + kStored,
     {250, 250, 250, 354, 451, 250, 250, 354, 250}},
    {"LmtpEachRecipient",
     kLhlo + kMail + "RCPT TO:<alice@example.com>\r\n" + "RCPT TO:<bob@example.com>\r\n" + kThrown +
         kMail + "RCPT TO:<alice@example.com>\r\n" + kStored,
     {250, 250, 250, 250, 354, 451, 451, 250, 250, 354, 250},
     "bad_alloc",
     Protocol::Lmtp},
    {"LmtpRcpt",
     kLhlo + kMail + "RCPT TO:<throw@example.com>\r\n" + "RCPT TO:<bob@example.com>\r\n" + kStored,
     {250, 250, 451, 250, 354, 250},
     "detail=\"" + kSecret + "\"",
     Protocol::Lmtp}};

INSTANTIATE_TEST_SUITE_P(Steps, SmtpFailingStep, ::testing::ValuesIn(kSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// An LMTP failure still names its recipient, so that the MTA retries that one alone.
TEST(SmtpFailingStep, LmtpRepliesNameTheirRecipient) {
    const serverlog::Capture capture;
    TestBackend backend;
    Session session("h", Limits{}, backend, Protocol::Lmtp);
    const auto replies = session.Feed(kLhlo + kMail + "RCPT TO:<alice@example.com>\r\n" + kThrown);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[4].lines.at(0).rfind("<alice@example.com> 4.3.0 Internal error, id ", 0), 0u)
        << replies[4].lines.at(0);
}

TEST(SmtpServerFailure, ABackendThatThrowsFailsOnlyTheStepThatCalledIt) {
    const serverlog::Capture capture;
    // The network layer runs the backend on its pool: what it throws there must not take the
    // server down, nor the other sessions.
    RunningServer running;
    Client failing("127.0.0.1", running.Port());
    Client other("127.0.0.1", running.Port());
    ASSERT_EQ(failing.Command("EHLO f").code, 250);
    ASSERT_EQ(other.Command("EHLO o").code, 250);
    ASSERT_EQ(failing.Command("MAIL FROM:<s@partner.example>").code, 250);
    std::vector<std::string> ids;
    for (const auto* address : {"throw@example.com", "known-throw@example.com"}) {
        const auto reply = failing.Command(std::string("RCPT TO:<") + address + ">");
        EXPECT_EQ(reply.code, 451) << reply.Wire();
        ids.push_back(IdIn(reply));
        EXPECT_FALSE(ids.back().empty()) << reply.Wire();
    }
    ASSERT_EQ(failing.Command("RSET").code, 250);
    const auto failed =
        failing.Deliver("s@partner.example", {"a@example.com"}, "Subject: throw\r\n\r\n");
    EXPECT_EQ(failed.code, 451) << failed.Wire();
    EXPECT_EQ(failed.Wire().find("/srv"), std::string::npos) << failed.Wire();
    ids.push_back(IdIn(failed));

    // The other session never noticed; the failing one goes on too.
    EXPECT_EQ(other.Deliver("s@partner.example", {"b@example.com"}, "Subject: fine\r\n\r\n").code,
              250);
    EXPECT_EQ(failing.Deliver("s@partner.example", {"a@example.com"}, "Subject: fine\r\n\r\n").code,
              250);
    for (const auto& id : ids) {
        const auto logged = LinesWith(capture, "failure", "id=" + id);
        ASSERT_EQ(logged.size(), 1u) << id;
        EXPECT_NE(logged[0].find(kSecret), std::string::npos) << logged[0];
    }
}

} // namespace
