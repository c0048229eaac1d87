// The network layer around the protocol, in-process on loopback with a backend whose deliveries
// the test can hold up.

#include "server/smtp/SmtpServer.h"
#include "server/smtp/SmtpClient.h"

#include "SmtpTestBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace smtptest;

namespace {

const std::string kOpen = "EHLO c\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<x@example.com>\r\nDATA\r\n";

TEST(SmtpServer, PipelinedCommandsGetTheirRepliesInOrder) {
    RunningServer running;
    Client client("127.0.0.1", running.Port());
    EXPECT_EQ(client.Greeting().code, 220);
    client.SendRaw(kOpen);
    for (const int code : {250, 250, 250, 354})
        EXPECT_EQ(client.ReadReply().code, code);
    client.SendRaw("Subject: x\r\n\r\nhi\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(client.ReadReply().code, 250);
    EXPECT_EQ(client.ReadReply().code, 221);
    EXPECT_TRUE(client.ServerClosed());
    EXPECT_EQ(running.shared.delivered, std::vector<std::string>{"Subject: x\r\n\r\nhi\r\n"});
}

TEST(SmtpServer, SessionsBeyondTheLimitAreTurnedAwayWith421) {
    ServerSettings settings;
    settings.maxSessions = 1;
    RunningServer running(settings);
    Client first("127.0.0.1", running.Port());
    EXPECT_EQ(first.Greeting().code, 220);
    Client second("127.0.0.1", running.Port());
    EXPECT_EQ(second.Greeting().code, 421);
    EXPECT_TRUE(second.ServerClosed());
    EXPECT_EQ(first.Command("NOOP").code, 250);
}

// Three sessions when the server stops: one whose message is being stored, one in the middle of
// sending a message, one idle.
TEST(SmtpServer, StoppingLetsMessagesUnderWayFinishAndRepliesBeforeClosing) {
    RunningServer running;
    Client storing("127.0.0.1", running.Port());
    Client sending("127.0.0.1", running.Port());
    Client idle("127.0.0.1", running.Port());
    idle.Command("EHLO idle");
    running.shared.deliveries.Set(false);
    for (auto* client : {&storing, &sending})
        client->SendRaw(kOpen);
    for (auto* client : {&storing, &sending})
        for (int i = 0; i < 4; ++i)
            ASSERT_LT(client->ReadReply().code, 400);
    storing.SendRaw("Subject: while stopping\r\n\r\n.\r\n");
    sending.SendRaw("Subject: first half\r\n");
    ASSERT_TRUE(running.shared.deliveries.AwaitWaiting(1));

    auto stopped = std::async(std::launch::async, [&] { running.Stop(); });
    EXPECT_EQ(idle.ReadReply().code, 421);
    EXPECT_TRUE(idle.ServerClosed());
    sending.SendRaw("second half\r\n.\r\n");
    running.shared.deliveries.Set(true);
    for (auto* client : {&storing, &sending}) {
        EXPECT_EQ(client->ReadReply().code, 250);
        EXPECT_EQ(client->ReadReply().code, 421);
        EXPECT_TRUE(client->ServerClosed());
    }
    stopped.get();
    std::sort(running.shared.delivered.begin(), running.shared.delivered.end());
    EXPECT_EQ(running.shared.delivered,
              (std::vector<std::string>{"Subject: first half\r\nsecond half\r\n",
                                        "Subject: while stopping\r\n\r\n"}));
}

TEST(SmtpServer, AMessageNotFinishedWhenStoppingIsDroppedUnacknowledged) {
    ServerSettings settings;
    settings.drainTimeout = std::chrono::milliseconds(20);
    RunningServer running(settings);
    Client client("127.0.0.1", running.Port());
    client.SendRaw(kOpen);
    for (const int code : {250, 250, 250, 354})
        ASSERT_EQ(client.ReadReply().code, code);
    client.SendRaw("Subject: never finished\r\n");
    running.Stop();
    EXPECT_EQ(client.ReadReply().code, 421);
    EXPECT_TRUE(client.ServerClosed());
    EXPECT_TRUE(running.shared.delivered.empty());
}

TEST(SmtpServer, AHungDirectoryHoldsUpOnlyTheSessionsThatWaitForIt) {
    ServerSettings settings;
    settings.lookupTimeout = std::chrono::milliseconds(300);
    RunningServer running(settings);
    running.shared.lookups.Set(false);
    // Several hung lookups at once: none may hold up the network thread.
    std::vector<std::unique_ptr<Client>> waiting;
    for (std::size_t i = 0; i < 4; ++i) {
        waiting.push_back(std::make_unique<Client>("127.0.0.1", running.Port()));
        waiting.back()->SendRaw("EHLO w\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<hang@example.com>\r\n");
    }
    ASSERT_TRUE(running.shared.lookups.AwaitWaiting(static_cast<int>(waiting.size())));

    Client other("127.0.0.1", running.Port());
    EXPECT_EQ(other.Command("EHLO other").code, 250);
    EXPECT_EQ(other.Command("NOOP").code, 250);
    EXPECT_EQ(running.shared.lookups.Waiting(), static_cast<int>(waiting.size()))
        << "answered only once the lookups had returned";

    for (auto& client : waiting) {
        EXPECT_EQ(client->ReadReply().code, 250);
        EXPECT_EQ(client->ReadReply().code, 250);
        const auto late = client->ReadReply();
        EXPECT_EQ(late.code, 451);
        EXPECT_NE(late.lines.at(0).find("4.4.3"), std::string::npos) << late.lines.at(0);
    }
    // The session goes on, and the late answer is dropped: it adds no recipient.
    auto& first = *waiting.front();
    first.SendRaw("RCPT TO:<x@example.com>\r\n");
    running.shared.lookups.Set(true);
    EXPECT_EQ(first.ReadReply().code, 250);
    ASSERT_EQ(first.Command("DATA").code, 354);
    EXPECT_EQ(first.SendMessageBody("Subject: after\r\n\r\n").code, 250);
    ASSERT_EQ(running.shared.envelopes.size(), 1u);
    EXPECT_EQ(running.shared.envelopes[0].recipients, std::vector<std::string>{"x@example.com"});
}

TEST(SmtpServer, AKnownRecipientIsAnsweredWithoutALookupUnlessAnAbandonedOneStillRuns) {
    ServerSettings settings;
    settings.lookupTimeout = std::chrono::milliseconds(300);
    RunningServer running(settings);
    running.shared.lookups.Set(false);
    Client client("127.0.0.1", running.Port());
    ASSERT_EQ(client.Command("EHLO k").code, 250);
    ASSERT_EQ(client.Command("MAIL FROM:<a@b.c>").code, 250);
    // Every lookup is held: only an answer that needs none comes back with 250.
    EXPECT_EQ(client.Command("RCPT TO:<known@example.com>").code, 250);
    EXPECT_EQ(running.shared.knownAnswers, 1);
    EXPECT_EQ(running.shared.lookups.Waiting(), 0);

    // An abandoned lookup still uses the backend: the next recipient waits for it to return.
    EXPECT_EQ(client.Command("RCPT TO:<hang@example.com>").code, 451);
    client.SendRaw("RCPT TO:<known2@example.com>\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(running.shared.knownAnswers, 1) << "asked while the abandoned lookup ran";
    running.shared.lookups.Set(true);
    EXPECT_EQ(client.ReadReply().code, 250);
}

struct DeadlineCase {
    const char* name;
    std::chrono::milliseconds ServerSettings::*deadline;
    std::string before; // sent first, replies read
    std::size_t replies;
    std::string trickle; // then sent a byte at a time, slower than the deadline allows, if any
    std::string says;
};

class SmtpDeadline : public ::testing::TestWithParam<DeadlineCase> {};

// A session that is sent nothing is closed once the idle timer runs out. A client that keeps
// sending bytes never lets it run out; the deadlines for a command and a message still do.
// Without them the idle timer (ten seconds there) would close the session with another text.
TEST_P(SmtpDeadline, ATrickleDoesNotKeepTheSessionOpen) {
    const auto& c = GetParam();
    ServerSettings settings;
    settings.idleTimeout = std::chrono::seconds(10);
    settings.*c.deadline = std::chrono::milliseconds(300);
    RunningServer running(settings);
    Client client("127.0.0.1", running.Port());
    client.SendRaw(c.before);
    for (std::size_t i = 0; i < c.replies; ++i)
        ASSERT_LT(client.ReadReply().code, 400);
    std::atomic<bool> closed = false;
    std::thread trickle([&] {
        for (std::size_t i = 0; !closed && !c.trickle.empty() && i < 400; ++i) {
            try {
                client.SendRaw(c.trickle.substr(i % c.trickle.size(), 1));
            } catch (const std::exception&) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    auto reply = client.ReadReply();
    while (reply.code == 250) // the answers to whole commands trickled in
        reply = client.ReadReply();
    closed = true;
    trickle.join();
    EXPECT_EQ(reply.code, 421);
    EXPECT_NE(reply.lines.at(0).find(c.says), std::string::npos) << reply.lines.at(0);
}

const DeadlineCase kDeadlines[] = {
    {"Command", &ServerSettings::commandTimeout, "", 0, "NOOP and on", "command took too long"},
    {"Message", &ServerSettings::dataTimeout, kOpen, 4, "line\r\n", "message took too long"},
    {"Session", &ServerSettings::sessionTimeout, "", 0, "NOOP\r\n", "4.7.0"},
    {"Idle", &ServerSettings::idleTimeout, "EHLO c\r\n", 1, "", "waited too long"}};

INSTANTIATE_TEST_SUITE_P(Cases, SmtpDeadline, ::testing::ValuesIn(kDeadlines),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
