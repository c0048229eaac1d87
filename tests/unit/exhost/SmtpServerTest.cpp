// The network layer around the protocol, in-process on loopback with a backend whose deliveries
// the test can hold up.

#include "smtp/SmtpServer.h"
#include "smtp/SmtpClient.h"

#include <boost/asio/post.hpp>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace exhost::smtp;
namespace asio = boost::asio;

namespace {

// Accepts every address; a delivery waits while the gate is closed.
class GatedBackend : public Backend {
public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = true;
        int waiting = 0;
        std::vector<std::string> delivered;
    };
    explicit GatedBackend(Gate& gate) : gate_(gate) {}

    Verdict CheckRecipient(const std::string&) override { return Verdict::Accept(); }
    Verdict Deliver(const Envelope&, const std::string& message) override {
        std::unique_lock lock(gate_.mutex);
        ++gate_.waiting;
        gate_.changed.notify_all();
        gate_.changed.wait(lock, [&] { return gate_.open; });
        --gate_.waiting;
        gate_.delivered.push_back(message);
        return Verdict::Accept("stored");
    }

private:
    Gate& gate_;
};

class RunningServer {
public:
    explicit RunningServer(ServerSettings settings)
        : server_(io_, {asio::ip::make_address("127.0.0.1"), 0}, std::move(settings),
                  [this] { return std::make_unique<GatedBackend>(gate); }) {
        server_.Start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~RunningServer() {
        if (thread_.joinable()) {
            OpenGate();
            Stop();
        }
    }

    unsigned short Port() const { return server_.LocalEndpoint().port(); }
    void Stop() {
        asio::post(io_, [this] { server_.Stop(); });
        thread_.join();
        server_.Join();
    }
    void CloseGate() {
        std::lock_guard lock(gate.mutex);
        gate.open = false;
    }
    void OpenGate() {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
        gate.changed.notify_all();
    }
    void AwaitDeliveryHeld() {
        std::unique_lock lock(gate.mutex);
        gate.changed.wait(lock, [&] { return gate.waiting > 0; });
    }

    GatedBackend::Gate gate;

private:
    asio::io_context io_;
    Server server_;
    std::thread thread_;
};

TEST(SmtpServer, PipelinedCommandsGetTheirRepliesInOrder) {
    RunningServer running({});
    Client client("127.0.0.1", running.Port());
    EXPECT_EQ(client.Greeting().code, 220);
    client.SendRaw("EHLO a\r\nMAIL FROM:<a@b.c>\r\nRCPT TO:<x@example.com>\r\nDATA\r\n");
    EXPECT_EQ(client.ReadReply().code, 250);
    EXPECT_EQ(client.ReadReply().code, 250);
    EXPECT_EQ(client.ReadReply().code, 250);
    EXPECT_EQ(client.ReadReply().code, 354);
    client.SendRaw("Subject: x\r\n\r\nhi\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(client.ReadReply().code, 250);
    EXPECT_EQ(client.ReadReply().code, 221);
    EXPECT_TRUE(client.ServerClosed());
    EXPECT_EQ(running.gate.delivered, std::vector<std::string>{"Subject: x\r\n\r\nhi\r\n"});
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

TEST(SmtpServer, ASlowDeliveryDoesNotHoldUpOtherSessions) {
    RunningServer running({});
    Client storing("127.0.0.1", running.Port());
    Client other("127.0.0.1", running.Port());
    storing.Command("EHLO storing");
    running.CloseGate();
    ASSERT_EQ(storing.Command("MAIL FROM:<a@b.c>").code, 250);
    ASSERT_EQ(storing.Command("RCPT TO:<x@example.com>").code, 250);
    ASSERT_EQ(storing.Command("DATA").code, 354);
    storing.SendRaw("Subject: slow\r\n\r\n.\r\n");
    running.AwaitDeliveryHeld();
    EXPECT_EQ(other.Command("EHLO other").code, 250);
    EXPECT_EQ(other.Command("NOOP").code, 250);
    running.OpenGate();
    EXPECT_EQ(storing.ReadReply().code, 250);
}

TEST(SmtpServer, StoppingWaitsForAMessageBeingStoredAndRepliesBeforeClosing) {
    RunningServer running({});
    Client storing("127.0.0.1", running.Port());
    Client idle("127.0.0.1", running.Port());
    storing.Command("EHLO storing");
    idle.Command("EHLO idle");
    running.CloseGate();
    storing.Command("MAIL FROM:<a@b.c>");
    storing.Command("RCPT TO:<x@example.com>");
    storing.Command("DATA");
    storing.SendRaw("Subject: while stopping\r\n\r\n.\r\n");
    running.AwaitDeliveryHeld();

    auto stopped = std::async(std::launch::async, [&] { running.Stop(); });
    EXPECT_EQ(idle.ReadReply().code, 421);
    EXPECT_TRUE(idle.ServerClosed());
    running.OpenGate();
    EXPECT_EQ(storing.ReadReply().code, 250);
    EXPECT_EQ(storing.ReadReply().code, 421);
    EXPECT_TRUE(storing.ServerClosed());
    stopped.get();
    EXPECT_EQ(running.gate.delivered.size(), 1u);
}

TEST(SmtpServer, AnIdleSessionIsClosedWith421) {
    ServerSettings settings;
    settings.idleTimeout = std::chrono::milliseconds(20);
    RunningServer running(settings);
    Client client("127.0.0.1", running.Port());
    EXPECT_EQ(client.Command("EHLO c").code, 250);
    // Nothing more is sent: the server gives up waiting.
    const auto reply = client.ReadReply();
    EXPECT_EQ(reply.code, 421);
    EXPECT_NE(reply.lines.at(0).find("waited too long"), std::string::npos);
    EXPECT_TRUE(client.ServerClosed());
}

TEST(SmtpServer, AMessageNotFinishedWhenStoppingIsDroppedUnacknowledged) {
    ServerSettings settings;
    settings.drainTimeout = std::chrono::milliseconds(20);
    RunningServer running(settings);
    Client client("127.0.0.1", running.Port());
    client.Command("EHLO c");
    client.Command("MAIL FROM:<a@b.c>");
    client.Command("RCPT TO:<x@example.com>");
    ASSERT_EQ(client.Command("DATA").code, 354);
    client.SendRaw("Subject: never finished\r\n");
    running.Stop();
    EXPECT_EQ(client.ReadReply().code, 421);
    EXPECT_TRUE(client.ServerClosed());
    EXPECT_TRUE(running.gate.delivered.empty());
}

} // namespace
