// The session when its backend fails at every step (the directory down, the store failing): each
// step answers NO with an id and nothing of the failure, the log has the detail under that id,
// and the session goes on. Also the bounds on what a session takes and makes at a time.

#include "ImapTestBackend.h"

#include "server/imap/ImapSession.h"
#include "server/log/ServerLog.h"

#include <gtest/gtest.h>

#include <regex>

using namespace imaptest;

namespace {

struct FailingStep {
    const char* name;
    Start start;
    std::vector<std::string> before; // sent while the backend still works
    std::string failing;             // sent once it fails (empty: the session goes on alone)
};

const std::string kPlainResponse = "AGFsaWNlAHNlY3JldA=="; // "\0alice\0secret"

SessionSettings OnePartPerStep() {
    SessionSettings settings;
    settings.outputPart = 1; // a FETCH answers one message per step
    settings.failedLoginDelay = {};
    return settings;
}

TEST(ImapSessionFailureTest, EveryStepFailsAloneWithAnIdThatTheLogExplains) {
    // LOGIN, and AUTHENTICATE after its continuation, against a directory that is down:
    // imap_hostile_test.py.
    const FailingStep steps[] = {
        {"AUTHENTICATE with an initial response",
         Fresh,
         {},
         "a AUTHENTICATE PLAIN " + kPlainResponse + "\r\n"},
        {"LIST", LoggedIn, {}, "a LIST \"\" *\r\n"},
        {"STATUS", LoggedIn, {}, "a STATUS INBOX (MESSAGES)\r\n"},
        {"SELECT", LoggedIn, {}, "a SELECT INBOX\r\n"},
        {"FETCH", Selected, {}, "a FETCH 1 BODY[]\r\n"},
        {"UID FETCH", Selected, {}, "a UID FETCH 1:* (FLAGS BODY.PEEK[])\r\n"},
        // The texts were read together with the first part; marking the next one \Seen fails.
        {"FETCH after its first part", Selected, {"a FETCH 1:3 BODY[]\r\n"}, ""},
        {"STORE", Selected, {}, "a STORE 1 +FLAGS (\\Flagged)\r\n"},
        {"SEARCH", Selected, {}, "a SEARCH BODY xx\r\n"},
        {"EXPUNGE", Selected, {"d STORE 2 +FLAGS.SILENT (\\Deleted)\r\n"}, "a EXPUNGE\r\n"},
        {"NOOP", Selected, {}, "a NOOP\r\n"},
        {"IDLE", Selected, {}, "a IDLE\r\n"},
        {"DONE", Selected, {"a IDLE\r\n"}, "DONE\r\n"},
    };
    const std::regex answered(R"(a NO \[UNAVAILABLE\] Internal error, id ([0-9A-F]{16})\r\n$)");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        TestBackend backend;
        Session session(backend, OnePartPerStep());
        ASSERT_TRUE(Begin(session, step.start));
        for (const auto& line : step.before)
            session.Receive(line);
        const server::log::Capture log;
        backend.shared.failing = true;
        const auto output = session.Receive(step.failing);
        std::smatch found;
        ASSERT_TRUE(std::regex_search(output.bytes, found, answered)) << output.bytes;
        EXPECT_EQ(output.bytes.find("/srv"), std::string::npos) << output.bytes;
        EXPECT_FALSE(output.close);
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].starts_with("failure session=" + session.Id())) << lines[0];
        EXPECT_NE(lines[0].find("id=" + found[1].str() + " "), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(kSecretDetail), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].find(kPassword), std::string::npos) << lines[0];
        // Nothing the step began is under way: the next line is a command again.
        backend.shared.failing = false;
        const auto next = session.Receive("z NOOP\r\n");
        EXPECT_TRUE(next.bytes.ends_with("z OK NOOP completed\r\n")) << next.bytes;
        EXPECT_FALSE(next.idling);
        EXPECT_FALSE(next.pending);
    }
}

TEST(ImapSessionFailureTest, AFailingIdlePollEndsTheSessionWithAnId) {
    TestBackend backend;
    Session session(backend, SessionSettings{});
    ASSERT_TRUE(Begin(session, Selected));
    ASSERT_TRUE(session.Receive("i IDLE\r\n").idling);
    const server::log::Capture log;
    backend.shared.failing = true;
    const auto output = session.Poll();
    EXPECT_TRUE(output.close);
    ASSERT_TRUE(
        std::regex_match(output.bytes, std::regex(R"(\* BYE \[UNAVAILABLE\] Internal error, id )"
                                                  R"([0-9A-F]{16}\r\n)")))
        << output.bytes;
    const auto id = output.bytes.substr(output.bytes.size() - 18, 16);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find("id=" + id), std::string::npos) << log.Lines()[0];
    EXPECT_EQ(output.ending, "failure");
}

// A FETCH of many large messages is made a part at a time: each step holds about one part, and
// the parts together are the whole answer; the commands after it wait for it.
TEST(ImapSessionFailureTest, AnswersAreMadeAPartAtATime) {
    const std::string commands = "l LOGIN alice secret\r\ne ENABLE QRESYNC\r\ns SELECT INBOX\r\n"
                                 "f FETCH 1:10 BODY.PEEK[]\r\nq SELECT INBOX (QRESYNC (7 1))\r\n"
                                 "n NOOP\r\n";
    Shared shared;
    TestBackend whole(shared, 10, 3000);
    SessionSettings unbounded;
    unbounded.outputPart = std::size_t(1) << 30;
    const auto expected = Session(whole, unbounded).Receive(commands).bytes;
    ASSERT_NE(expected.find("f OK FETCH completed\r\n"), std::string::npos);
    ASSERT_NE(expected.find("* 10 FETCH (UID 10 FLAGS () MODSEQ (11))\r\n"
                            "q OK [READ-WRITE] SELECT completed\r\nn OK NOOP completed\r\n"),
              std::string::npos);
    for (const std::size_t part : {1, 2000, 3100, 7000, 40000}) {
        SCOPED_TRACE(part);
        TestBackend backend(shared, 10, 3000);
        SessionSettings settings;
        settings.outputPart = part;
        Session session(backend, settings);
        auto output = session.Receive(commands);
        std::string got;
        int steps = 1;
        for (; output.pending && steps < 100; ++steps) {
            // A step stops at the first message past its part.
            EXPECT_LT(output.bytes.size(), 2 * part + 3100);
            got += output.bytes;
            output = session.Receive("");
        }
        got += output.bytes;
        EXPECT_EQ(got, expected);
        EXPECT_EQ(steps > 1, part < expected.size());
    }
}

// Before a login anyone may connect: lines and literals are held to a few KiB until then. What
// is too large is answered and the session goes on, but for a literal it was not asked to wait
// for: that one is on its way, so the session ends.
TEST(ImapSessionFailureTest, InputBeforeALoginIsHeldToSmallLimits) {
    const std::string longSearch = "q SEARCH SUBJECT " + std::string(9000, 'y') + "\r\n";
    const std::string longLiteral =
        "q SEARCH SUBJECT {9000+}\r\n" + std::string(9000, 'y') + "\r\n";
    TestBackend backend;
    Session session(backend, SessionSettings{});
    EXPECT_EQ(session.Receive(longSearch).bytes, "q BAD Line too long: at most 8192 octets\r\n");
    EXPECT_EQ(session.Receive("a LOGIN {9000}\r\n").bytes,
              "a BAD [TOOBIG] Literal too large: at most 8192 octets\r\n");
    EXPECT_EQ(session.Receive("c NOOP\r\n").bytes, "c OK NOOP completed\r\n");
    const auto literal = session.Receive(longLiteral);
    EXPECT_TRUE(literal.bytes.starts_with("q BAD [TOOBIG] Literal too large: at most 8192"))
        << literal.bytes;
    EXPECT_NE(literal.bytes.find("\r\n* BYE "), std::string::npos) << literal.bytes;
    EXPECT_TRUE(literal.close);

    Session loggedIn(backend, SessionSettings{});
    ASSERT_TRUE(Begin(loggedIn, Selected));
    EXPECT_EQ(loggedIn.Receive(longSearch).bytes, "* SEARCH\r\nq OK SEARCH completed\r\n");
    EXPECT_EQ(loggedIn.Receive(longLiteral).bytes, "* SEARCH\r\nq OK SEARCH completed\r\n");
}

} // namespace
