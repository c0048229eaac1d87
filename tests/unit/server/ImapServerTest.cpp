// The IMAP front's network layer, in-process on loopback: session limits, the login timeout,
// autologout and stopping while a step hangs, clients that do not read their answers, what a
// session logs, and IDLE ended by a pipelined DONE (which raced before; run under TSan).

#include "ImapTestBackend.h"

#include "server/imap/ImapServer.h"
#include "server/log/ServerLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace imaptest;
using namespace std::chrono_literals;

namespace {

struct RunningServer : servertest::RunningServer<Server, Shared> {
    // Alice's mailbox, or an Inbox of `messages` messages of a body of `bodySize` octets.
    explicit RunningServer(ServerSettings settings, int messages = 0, std::size_t bodySize = 0)
        : servertest::RunningServer<Server, Shared>(std::move(settings), [=](Shared& shared) {
              return messages ? std::make_unique<TestBackend>(shared, messages, bodySize)
                              : std::make_unique<TestBackend>(shared);
          }) {}
};

using servertest::Client;

// Logs in (past the greeting, which OneClientAddressHoldsAtMostItsShareOfSessions checks) and, if
// asked, selects INBOX; whether both went well.
bool LogIn(Client& client, bool select = false) {
    return client.Send(std::string("l LOGIN alice ") + kPassword + "\r\n") &&
           client.LineStarting("l ").starts_with("l OK") &&
           (!select ||
            (client.Send("s SELECT INBOX\r\n") && client.LineStarting("s ").starts_with("s OK")));
}

ServerSettings Quick() {
    ServerSettings settings;
    settings.session.failedLoginDelay = {};
    settings.stopGrace = 200ms;
    return settings;
}

TEST(ImapServerTest, OneClientAddressHoldsAtMostItsShareOfSessions) {
    auto settings = Quick();
    settings.maxSessionsPerClient = 2;
    const server::log::Capture log;
    RunningServer server(settings);
    Client first(server.Port()), second(server.Port()), third(server.Port());
    EXPECT_TRUE(first.Line().starts_with("* OK"));
    EXPECT_TRUE(second.Line().starts_with("* OK"));
    EXPECT_EQ(third.Line(), "* BYE Too many sessions from 127.0.0.1 open, try again later\r\n");
    EXPECT_EQ(third.Line(), "");
    const auto lines = log.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "refused client=127.0.0.1 reason=\"too many sessions from the client\""),
              1);
}

TEST(ImapServerTest, ASessionThatDoesNotLogInInTimeIsClosed) {
    auto settings = Quick();
    settings.loginTimeout = 300ms;
    RunningServer server(settings);
    Client idle(server.Port()), user(server.Port());
    ASSERT_TRUE(idle.Line().starts_with("* OK"));
    ASSERT_TRUE(LogIn(user));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(idle.Line(), "* BYE No login in time, closing\r\n");
    EXPECT_EQ(idle.Line(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    // The one that logged in is not touched.
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(user.Send("n NOOP\r\n"));
    EXPECT_EQ(user.Line(), "n OK NOOP completed\r\n");
}

TEST(ImapServerTest, AutologoutAndStoppingDoNotWaitForAStepThatHangs) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopping" : "autologout");
        auto settings = Quick();
        if (!stop)
            settings.autoLogout = 300ms;
        RunningServer server(settings);
        server.shared.loginGate.Set(false);
        Client client(server.Port());
        ASSERT_TRUE(client.Line().starts_with("* OK"));
        ASSERT_TRUE(client.Send(std::string("l LOGIN alice ") + kPassword + "\r\n"));
        ASSERT_TRUE(server.shared.loginGate.AwaitWaiting(1));
        const auto started = std::chrono::steady_clock::now();
        if (stop) {
            EXPECT_TRUE(server.Stop(3s)); // the network thread ends with the login still held
        }
        EXPECT_EQ(client.Line(), stop ? "* BYE Server shutting down\r\n"
                                      : "* BYE Autologout: nothing sent for too long\r\n");
        EXPECT_EQ(client.Line(), ""); // closed; the late answer is dropped
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_EQ(server.shared.loginGate.Waiting(), 1);
    }
}

// What the client sends and takes puts the autologout off: one that sends a NOOP every 100 ms
// for twice the 300 ms stays, and is logged out once it falls silent.
TEST(ImapServerTest, AutologoutCountsFromTheClientsLastCommand) {
    auto settings = Quick();
    settings.autoLogout = 300ms;
    RunningServer server(settings);
    Client client(server.Port());
    ASSERT_TRUE(LogIn(client));
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(client.Send("n NOOP\r\n"));
        ASSERT_EQ(client.Line(), "n OK NOOP completed\r\n") << "after " << (i + 1) * 100 << " ms";
    }
    EXPECT_EQ(client.Line(), "* BYE Autologout: nothing sent for too long\r\n");
    EXPECT_EQ(client.Line(), "");
}

// Clients that pipeline FETCHes without reading the answers: the server runs no more of them
// than fit its output bound and the socket buffers, goes on once a client reads, and stops
// without waiting for one that never does.
TEST(ImapServerTest, AClientThatDoesNotReadIsNotAnsweredWithoutBound) {
    constexpr int kFetches = 300;
    constexpr std::size_t kBody = 100 * 1024;
    auto settings = Quick();
    settings.maxUnsentOutput = 256 * 1024;
    RunningServer server(settings, 1, kBody);
    std::string fetches;
    for (int n = 0; n < kFetches; ++n)
        fetches += "f FETCH 1 BODY.PEEK[]\r\n";
    Client reader(server.Port(), 64 * 1024), neverReads(server.Port(), 64 * 1024);
    for (auto* client : {&reader, &neverReads}) {
        ASSERT_TRUE(LogIn(*client, true));
        ASSERT_TRUE(client->Send(fetches));
    }
    // Until the server has stopped answering.
    for (int read = -1; read != server.shared.messagesRead;) {
        read = server.shared.messagesRead;
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_LT(server.shared.messagesRead, 2 * kFetches / 3);
    int answered = 0;
    for (std::string line = "*"; !line.empty() && answered < kFetches;) {
        line = reader.Line();
        answered += line == "f OK FETCH completed\r\n";
    }
    EXPECT_EQ(answered, kFetches);
    EXPECT_TRUE(server.Stop(3s));
}

TEST(ImapServerTest, ASessionLogsItsStartLoginsFailuresAndEndWithoutThePassword) {
    const server::log::Capture log;
    RunningServer server(Quick());
    Client client(server.Port());
    ASSERT_TRUE(client.Line().starts_with("* OK"));
    ASSERT_TRUE(client.Send("a LOGIN alice wrong-pw\r\n"));
    EXPECT_TRUE(client.LineStarting("a ").starts_with("a NO [AUTHENTICATIONFAILED]"));
    ASSERT_TRUE(LogIn(client));
    server.shared.failing = true;
    ASSERT_TRUE(client.Send("b LIST \"\" *\r\n"));
    const auto failed = client.LineStarting("b ");
    std::smatch id;
    ASSERT_TRUE(std::regex_match(
        failed, id, std::regex(R"(b NO \[UNAVAILABLE\] Internal error, id ([0-9A-F]{16})\r\n)")))
        << failed;
    ASSERT_TRUE(client.Send("c LOGOUT\r\n"));
    EXPECT_TRUE(client.LineStarting("c ").starts_with("c OK"));
    EXPECT_EQ(client.Line(), "");
    server.Stop();
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    std::smatch start;
    ASSERT_TRUE(std::regex_match(lines[0], start,
                                 std::regex("session-start session=([0-9A-F]{16}) "
                                            "client=127.0.0.1")))
        << lines[0];
    const auto session = "session=" + start[1].str() + " client=127.0.0.1";
    EXPECT_EQ(lines[1],
              "login-failed " + session + " user=alice reason=\"wrong user name or password\"");
    EXPECT_EQ(lines[2], "login-ok " + session + " user=alice");
    EXPECT_EQ(lines[3], "failure " + session + " user=alice step=LIST id=" + id[1].str() +
                            " detail=\"0x80004005 " + kSecretDetail + "\"");
    EXPECT_TRUE(
        std::regex_match(lines[4], std::regex("session-end " + session + " reason=logout ms=\\d+")))
        << lines[4];
    for (const auto& line : lines) {
        EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
        EXPECT_EQ(line.find("wrong-pw"), std::string::npos) << line;
    }
}

TEST(ImapServerTest, IdleEndedByAPipelinedDoneAnswersInOrder) {
    constexpr int kRounds = 1000;
    auto settings = Quick();
    settings.idlePoll = 1ms;
    RunningServer server(settings);
    Client client(server.Port());
    ASSERT_TRUE(LogIn(client, true));
    for (int round = 0; round < kRounds; ++round) {
        const auto n = std::to_string(round);
        // DONE in the same read as IDLE, or arriving while IDLE is answered.
        if (round % 2)
            ASSERT_TRUE(client.Send("i" + n + " IDLE\r\nDONE\r\nn" + n + " NOOP\r\n"));
        else
            ASSERT_TRUE(client.Send("i" + n + " IDLE\r\n") &&
                        client.Send("DONE\r\nn" + n + " NOOP\r\n"));
        EXPECT_EQ(client.Line(), "+ idling\r\n");
        EXPECT_EQ(client.Line(), "i" + n + " OK IDLE terminated\r\n");
        EXPECT_EQ(client.Line(), "n" + n + " OK NOOP completed\r\n");
    }
}

// Change notices the test tells by hand.
class HandNotices : public ChangeNotices {
public:
    std::shared_ptr<void> Listen(Listener listener) override {
        std::lock_guard lock(mutex_);
        listener_ = std::move(listener);
        return std::shared_ptr<void>(nullptr, [this](void*) {
            std::lock_guard lock(mutex_);
            listener_ = nullptr;
        });
    }
    void Tell(const std::vector<std::string>& tokens) {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_(tokens);
    }

private:
    std::mutex mutex_;
    Listener listener_;
};

TEST(ImapServerTest, AChangeNoticeWakesTheSessionsIdlingOnThatFolderAlone) {
    struct Row {
        const char* what;
        std::vector<std::string> tokens;
        bool wakes;
    };
    const Row rows[] = {
        {"the folder's token", {"token:Inbox"}, true},
        {"another folder's token", {"token:Inbox/Lists"}, false},
        {"any folder (the kernel dropped notices)", {""}, true},
        {"several, the folder's among them", {"token:Sent Items", "token:Inbox"}, true},
    };
    auto settings = Quick();
    settings.idlePoll = std::chrono::hours(1); // only a notice wakes it within the test
    auto notices = std::make_shared<HandNotices>();
    settings.changes = notices;
    RunningServer server(settings);
    Client client(server.Port());
    ASSERT_TRUE(LogIn(client, true));
    ASSERT_TRUE(client.Send("i IDLE\r\n"));
    ASSERT_EQ(client.Line(), "+ idling\r\n");
    int exists = 3;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const int opens = server.shared.opens;
        ++server.shared.arrivals;
        notices->Tell(row.tokens);
        if (!row.wakes) // then the folder's own notice shows that the first woke nothing
            notices->Tell({"token:Inbox"});
        EXPECT_NE(client.LineStarting("* " + std::to_string(++exists) + " EXISTS"), "");
        EXPECT_EQ(server.shared.opens - opens, 1);
    }
    // Once the IDLE is over, notices wake the session no more: only the NOOP looks.
    ASSERT_TRUE(client.Send("DONE\r\n"));
    EXPECT_EQ(client.LineStarting("i "), "i OK IDLE terminated\r\n");
    const int opens = server.shared.opens;
    ++server.shared.arrivals;
    notices->Tell({"token:Inbox"});
    ASSERT_TRUE(client.Send("n NOOP\r\n"));
    EXPECT_NE(client.LineStarting("* " + std::to_string(++exists) + " EXISTS"), "");
    EXPECT_TRUE(client.LineStarting("n ").starts_with("n OK"));
    EXPECT_EQ(server.shared.opens - opens, 1);
}

} // namespace
