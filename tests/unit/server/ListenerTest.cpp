// The listener the fronts share: its limits per server and per client address, the room a closed
// session gives back, unix socket clients, and stopping. The connections here only say what the
// listener made them do.

#include "server/net/Listener.h"
#include "testsupport/ScopedServerFolder.h"

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace net = server::net;
namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// Writes one line for each thing the listener asks of it, and reports its end when the client
// hangs up or it is told to close.
class Probe : public net::AcceptedConnection, public std::enable_shared_from_this<Probe> {
public:
    Probe(net::Listener& listener, net::Stream::socket socket)
        : listener_(listener), socket_(std::move(socket)) {}

    void Begin() override {
        Write("begun\n", false);
        WaitForHangUp();
    }
    void Refuse(net::Refusal why, const asio::ip::address& client) override {
        Write(why == net::Refusal::TooManySessions ? "full\n"
                                                   : "full for " + client.to_string() + "\n",
              true);
    }
    void Stop() override { Write("stopped\n", true); }

private:
    void Write(std::string line, bool thenClose) {
        auto text = std::make_shared<std::string>(std::move(line));
        asio::async_write(socket_, asio::buffer(*text),
                          [self = shared_from_this(), text, thenClose](error_code, std::size_t) {
                              if (thenClose)
                                  self->Close();
                          });
    }
    void WaitForHangUp() {
        socket_.async_read_some(asio::buffer(byte_),
                                [self = shared_from_this()](error_code error, std::size_t) {
                                    if (error)
                                        return self->Close();
                                    self->WaitForHangUp();
                                });
    }
    void Close() {
        if (closed_)
            return;
        closed_ = true;
        listener_.Ended(socket_, shared_from_this());
    }

    net::Listener& listener_;
    net::Stream::socket socket_;
    char byte_[1];
    bool closed_ = false;
};

class RunningListener {
public:
    RunningListener(const net::Stream::endpoint& endpoint, net::SessionLimits limits) {
        listener_.emplace(io_, endpoint, limits,
                          [this](net::Stream::socket socket, const asio::ip::address&) {
                              return std::make_shared<Probe>(*listener_, std::move(socket));
                          });
        listener_->Start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~RunningListener() {
        if (thread_.joinable())
            Stop();
    }

    unsigned short Port() const { return listener_->LocalEndpoint().port(); }
    // Returns once the io_context has run out of work, that is once every session has ended.
    void Stop() {
        asio::post(io_, [this] { listener_->Stop(); });
        thread_.join();
        listener_->Join();
    }

private:
    asio::io_context io_;
    std::optional<net::Listener> listener_;
    std::thread thread_;
};

net::Stream::endpoint Loopback() {
    return asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0);
}

// A blocking client that reads the line its connection writes.
template <class Protocol> class Client {
public:
    explicit Client(const typename Protocol::endpoint& endpoint) : socket_(io_) {
        socket_.connect(endpoint);
    }
    std::string Line() {
        error_code error;
        const auto size = asio::read_until(socket_, asio::dynamic_buffer(buffer_), '\n', error);
        if (error)
            return "closed";
        auto line = buffer_.substr(0, size - 1);
        buffer_.erase(0, size);
        return line;
    }
    void HangUp() { socket_.close(); }

private:
    asio::io_context io_;
    typename Protocol::socket socket_;
    std::string buffer_;
};

using TcpClient = Client<asio::ip::tcp>;

asio::ip::tcp::endpoint Address(const RunningListener& running) {
    return {asio::ip::make_address("127.0.0.1"), running.Port()};
}

struct LimitCase {
    const char* name;
    net::SessionLimits limits;
    // What each of the clients, connecting one after another from one address, is told.
    std::vector<std::string> told;
};

class ListenerLimits : public testing::TestWithParam<LimitCase> {};

TEST_P(ListenerLimits, TurnsAwayTheSessionsBeyondThem) {
    const auto& param = GetParam();
    RunningListener running(Loopback(), param.limits);
    std::vector<std::unique_ptr<TcpClient>> clients;
    std::vector<std::string> told;
    for (std::size_t i = 0; i < param.told.size(); ++i) {
        clients.push_back(std::make_unique<TcpClient>(Address(running)));
        told.push_back(clients.back()->Line());
    }
    EXPECT_EQ(told, param.told);
}

INSTANTIATE_TEST_SUITE_P(
    , ListenerLimits,
    testing::Values(LimitCase{"PerServer", {2, 10}, {"begun", "begun", "full"}},
                    LimitCase{"PerClient", {10, 2}, {"begun", "begun", "full for 127.0.0.1"}},
                    // Past both: the server's limit is the one named.
                    LimitCase{"Both", {1, 1}, {"begun", "full"}}),
    [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST(Listener, AClosedSessionGivesBackItsRoom) {
    RunningListener running(Loopback(), {1, 1});
    TcpClient first(Address(running));
    ASSERT_EQ(first.Line(), "begun");
    first.HangUp();
    // The listener notices the hang-up on its own time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string told;
    while ((told = TcpClient(Address(running)).Line()) != "begun" &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(told, "begun");
}

TEST(Listener, ClientsOfAUnixSocketAreNotCountedPerClient) {
    const testsupport::ScopedServerFolder folder;
    const asio::local::stream_protocol::endpoint endpoint((folder.Path() / "s").string());
    RunningListener running(endpoint, {3, 1});
    Client<asio::local::stream_protocol> first(endpoint), second(endpoint), third(endpoint),
        fourth(endpoint);
    EXPECT_EQ(first.Line(), "begun");
    EXPECT_EQ(second.Line(), "begun");
    EXPECT_EQ(third.Line(), "begun");
    EXPECT_EQ(fourth.Line(), "full");
}

TEST(Listener, StoppingStopsEverySessionAndAcceptsNoMore) {
    RunningListener running(Loopback(), {});
    TcpClient first(Address(running));
    TcpClient second(Address(running));
    ASSERT_EQ(first.Line(), "begun");
    ASSERT_EQ(second.Line(), "begun");
    const auto port = running.Port();
    running.Stop();
    EXPECT_EQ(first.Line(), "stopped");
    EXPECT_EQ(second.Line(), "stopped");
    asio::io_context io;
    asio::ip::tcp::socket late(io);
    error_code refused;
    late.connect({asio::ip::make_address("127.0.0.1"), port}, refused);
    EXPECT_TRUE(refused);
}

} // namespace
