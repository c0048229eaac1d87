// The listener the fronts share: its limits per server and per client address, unix socket
// clients, and stopping (the room a closed session gives back: imap_front_test.py). The
// connections here only say what the listener made them do.

#include "server/net/Listener.h"

#include "RunningServer.h"
#include "testsupport/ScopedServerFolder.h"

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

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
        Write("begun\r\n", false);
        WaitForHangUp();
    }
    void Refuse(net::Refusal why, const asio::ip::address& client) override {
        Write(why == net::Refusal::TooManySessions ? "full\r\n"
                                                   : "full for " + client.to_string() + "\r\n",
              true);
    }
    void Stop() override { Write("stopped\r\n", true); }

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

using servertest::Client;

TEST(Listener, TurnsAwayTheSessionsBeyondItsLimits) {
    const testsupport::ScopedServerFolder folder;
    const auto path = (folder.Path() / "s").string();
    const struct {
        const char* name;
        bool unixSocket;
        net::SessionLimits limits;
        // What each of the clients, connecting one after another from one address, is told.
        std::vector<std::string> told;
    } cases[] = {
        {"per server", false, {2, 10}, {"begun\r\n", "begun\r\n", "full\r\n"}},
        {"per client", false, {10, 2}, {"begun\r\n", "begun\r\n", "full for 127.0.0.1\r\n"}},
        // Past both: the server's limit is the one named.
        {"both", false, {1, 1}, {"begun\r\n", "full\r\n"}},
        // Clients of a unix socket are not counted per client.
        {"unix socket", true, {3, 1}, {"begun\r\n", "begun\r\n", "begun\r\n", "full\r\n"}},
    };
    for (const auto& c : cases) {
        RunningListener running(
            c.unixSocket ? net::Stream::endpoint(asio::local::stream_protocol::endpoint(path))
                         : Loopback(),
            c.limits);
        std::vector<std::unique_ptr<Client>> clients;
        std::vector<std::string> told;
        for (std::size_t i = 0; i < c.told.size(); ++i) {
            clients.push_back(c.unixSocket ? std::make_unique<Client>(path)
                                           : std::make_unique<Client>(running.Port()));
            told.push_back(clients.back()->Line());
        }
        EXPECT_EQ(told, c.told) << c.name;
    }
}

TEST(Listener, StoppingStopsEverySessionAndAcceptsNoMore) {
    RunningListener running(Loopback(), {});
    Client first(running.Port()), second(running.Port());
    ASSERT_EQ(first.Line(), "begun\r\n");
    ASSERT_EQ(second.Line(), "begun\r\n");
    const auto port = running.Port();
    running.Stop();
    EXPECT_EQ(first.Line(), "stopped\r\n");
    EXPECT_EQ(second.Line(), "stopped\r\n");
    EXPECT_FALSE(Client(port).Connected());
}

} // namespace
