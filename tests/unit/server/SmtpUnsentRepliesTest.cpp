// Clients that pipeline commands and never read the replies: the session stops taking input
// while its replies wait to be sent, so such a client holds a bounded amount of the server's
// memory however much it sends.

#include "server/log/ServerLog.h"
#include "server/smtp/SmtpClient.h"
#include "server/smtp/SmtpServer.h"
#include "server/smtp/SmtpSession.h"

#include "SmtpTestBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace smtptest;

namespace {

std::size_t WireSize(const std::vector<Reply>& replies) {
    std::size_t size = 0;
    for (const auto& reply : replies)
        size += reply.Wire().size();
    return size;
}

// 16 KB of EHLO, the command with the longest reply for the fewest bytes (7 octets, about 100
// back).
std::string Ehlos(std::size_t count) {
    std::string input;
    for (std::size_t i = 0; i < count; ++i)
        input += "EHLO a\n";
    return input;
}

TEST(SmtpUnsentReplies, InputIsHeldOnceTheRepliesNotSentReachTheLimit) {
    TestBackend backend;
    const Limits limits{.maxUnsentReplies = 4096};
    Session session("mail01.example.com", limits, backend);
    const auto input = Ehlos(2340);
    const auto expected = [&] {
        Session whole("mail01.example.com", limits, backend);
        return whole.Feed(input);
    }();
    ASSERT_EQ(expected.size(), 2340u);
    const auto largest = expected.front().Wire().size();

    auto replies = session.Receive(input);
    EXPECT_LE(WireSize(replies), limits.maxUnsentReplies + largest);
    EXPECT_GE(WireSize(replies), limits.maxUnsentReplies);
    EXPECT_TRUE(session.HoldsInput());
    // Nothing more until the replies are sent, not even with new input.
    EXPECT_TRUE(session.Receive("NOOP\r\n").empty());
    std::size_t rounds = 1;
    while (session.HoldsInput()) {
        session.RepliesSent();
        const auto more = session.Receive({});
        ASSERT_FALSE(more.empty());
        EXPECT_LE(WireSize(more), limits.maxUnsentReplies + largest);
        replies.insert(replies.end(), more.begin(), more.end());
        ++rounds;
    }
    ASSERT_EQ(replies.size(), expected.size() + 1) << "every EHLO and the NOOP, in order";
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), replies.begin()));
    EXPECT_EQ(replies.back().code, 250);
    EXPECT_GE(rounds, WireSize(expected) / limits.maxUnsentReplies);
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(SmtpUnsentReplies, ManyClientsThatNeverReadHoldLittleOfTheServersMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers keep memory resident of their own (a quarantine of freed "
                    "blocks, shadow memory): the resident size says nothing here";
#endif
    constexpr std::size_t kClients = 100;
    ServerSettings settings;
    settings.maxSessions = kClients;
    settings.maxSessionsPerClient = kClients;
    RunningServer server(settings);

    const auto before = ResidentKb();
    std::vector<std::unique_ptr<servertest::Client>> clients; // that never read
    for (std::size_t i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<servertest::Client>(server.Port(), 16 * 1024));
        ASSERT_TRUE(clients.back()->Connected());
    }
    // Until no client can send more: every session has stopped reading.
    const auto flood = Ehlos(16 * 1024 / 7);
    std::size_t total = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int quiet = 0; quiet < 5 && std::chrono::steady_clock::now() < until;) {
        std::size_t sent = 0;
        for (auto& client : clients)
            sent += client->Push(flood);
        total += sent;
        quiet = sent == 0 ? quiet + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto grown = ResidentKb() - before;
    std::cout << kClients << " clients sent " << total / 1024 << " KB of EHLO without reading; "
              << "the process grew by " << grown << " KB\n";
    // Each session's own buffers (16 KB read, at most 16 KB of replies and 16 KB of input held)
    // come to about 5 MB for all of them; the replies to every command of a read (16 KB of EHLO
    // are 220 KB of replies) came to 30 MB.
    EXPECT_LT(grown, 12 * 1024);
}

// A client that takes none of its replies holds its session, and a place among the sessions,
// only for the idle time.
TEST(SmtpUnsentReplies, AClientThatTakesNoRepliesIsDroppedAfterTheIdleTime) {
    const server::log::Capture capture;
    ServerSettings settings;
    settings.maxSessions = 1;
    settings.idleTimeout = std::chrono::milliseconds(300);
    RunningServer server(settings);
    {
        servertest::Client flooder(server.Port(), 16 * 1024);
        ASSERT_TRUE(flooder.Connected());
        // It goes on sending, so its session never waits for input: it can only be dropped
        // for the replies it does not take.
        const auto flood = Ehlos(16 * 1024 / 7);
        bool dropped = false;
        for (int i = 0; i < 500 && !dropped; ++i) {
            flooder.Push(flood);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (const auto& line : servertest::Starting(capture.Lines(), "session-end "))
                dropped |= line.find("reason=\"the client took no replies\"") != std::string::npos;
        }
        EXPECT_TRUE(dropped) << testing::PrintToString(capture.Lines());
        Client next("127.0.0.1", server.Port());
        EXPECT_EQ(next.Greeting().code, 220);
    }
}

} // namespace
