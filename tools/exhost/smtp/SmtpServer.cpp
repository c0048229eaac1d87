#include "SmtpServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace exhost::smtp {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, tcp::socket socket, std::unique_ptr<Backend> backend)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          backend_(std::move(backend)),
          session_(server.Settings().hostName, server.Settings().limits, *backend_) {}

    void Begin() { Send(session_.Greeting().Wire(), false); }

    // Ends the session at once with this reply (too many sessions).
    void Refuse(const Reply& reply) { Finish(reply); }

    void Stop() {
        if (closing_ || closed_)
            return;
        // Busy connections look at the server's state when their current step ends.
        if (!reading_)
            return;
        if (session_.ReceivingMessage())
            ArmTimer(); // now the shorter drain deadline
        else
            Finish(session_.ClosingReply());
    }

private:
    // Writes the bytes, then either closes or goes on reading.
    void Send(std::string wire, bool thenClose) {
        outgoing_ = std::move(wire);
        asio::async_write(socket_, asio::buffer(outgoing_),
                          [self = shared_from_this(), thenClose](error_code error, std::size_t) {
                              if (error || thenClose)
                                  self->Close();
                              else
                                  self->Continue();
                          });
    }

    void Continue() {
        if (closing_ || closed_)
            return;
        if (server_.Stopping() && !session_.ReceivingMessage())
            return Finish(session_.ClosingReply());
        reading_ = true;
        ArmTimer();
        socket_.async_read_some(asio::buffer(buffer_),
                                [self = shared_from_this()](error_code error, std::size_t n) {
                                    self->reading_ = false;
                                    if (self->closing_ || self->closed_)
                                        return;
                                    if (error)
                                        return self->Close();
                                    ++self->timerGeneration_;
                                    self->timer_.cancel();
                                    self->FeedOnWorker(std::string(self->buffer_.data(), n));
                                });
    }

    void FeedOnWorker(std::string bytes) {
        asio::post(server_.Workers(), [self = shared_from_this(), bytes = std::move(bytes)] {
            auto replies = self->session_.Feed(bytes);
            asio::post(self->socket_.get_executor(),
                       [self, replies = std::move(replies)] { self->Replied(replies); });
        });
    }

    void Replied(const std::vector<Reply>& replies) {
        std::string wire;
        for (const auto& reply : replies)
            wire += reply.Wire();
        if (session_.Closed()) {
            closing_ = true;
            return Send(std::move(wire), true);
        }
        if (server_.Stopping() && !session_.ReceivingMessage()) {
            closing_ = true;
            return Send(std::move(wire) + session_.ClosingReply().Wire(), true);
        }
        if (wire.empty())
            return Continue();
        Send(std::move(wire), false);
    }

    // Sends a last reply while a read may still be pending; closing cancels that read.
    void Finish(const Reply& reply) {
        closing_ = true;
        ++timerGeneration_;
        timer_.cancel();
        Send(reply.Wire(), true);
    }

    void ArmTimer() {
        const auto& settings = server_.Settings();
        const auto generation = ++timerGeneration_;
        timer_.expires_after(server_.Stopping()
                                 ? std::min(settings.drainTimeout, settings.idleTimeout)
                                 : settings.idleTimeout);
        timer_.async_wait([self = shared_from_this(), generation](error_code error) {
            if (error || generation != self->timerGeneration_ || !self->reading_ ||
                self->closing_ || self->closed_)
                return;
            self->Finish({421,
                          {self->server_.Settings().hostName +
                           " waited too long for input, closing the connection"}});
        });
    }

    void Close() {
        if (closed_)
            return;
        closed_ = true;
        ++timerGeneration_;
        timer_.cancel();
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.Ended(shared_from_this());
    }

    Server& server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::unique_ptr<Backend> backend_;
    Session session_;
    std::array<char, 16384> buffer_{};
    std::string outgoing_;
    bool reading_ = false;
    bool closing_ = false; // the last reply is on its way
    bool closed_ = false;
    std::uint64_t timerGeneration_ = 0;
};

Server::Server(asio::io_context& io, const tcp::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : io_(io), acceptor_(io), settings_(std::move(settings)), backends_(std::move(backends)),
      workers_(settings_.workers) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
}

Server::~Server() {
    workers_.join();
}

tcp::endpoint Server::LocalEndpoint() const {
    return acceptor_.local_endpoint();
}

void Server::Start() {
    keepRunning_ = std::make_unique<decltype(keepRunning_)::element_type>(io_.get_executor());
    Accept();
}

void Server::Accept() {
    acceptor_.async_accept([this](error_code error, tcp::socket socket) {
        if (stopping_ || error == asio::error::operation_aborted)
            return;
        if (!error) {
            auto connection = std::make_shared<Connection>(*this, std::move(socket), backends_());
            connections_.insert(connection);
            if (connections_.size() > settings_.maxSessions)
                connection->Refuse({421,
                                    {settings_.hostName + " has too many sessions open, try again "
                                                          "later"}});
            else
                connection->Begin();
        }
        Accept();
    });
}

void Server::Stop() {
    if (stopping_)
        return;
    stopping_ = true;
    error_code ignored;
    acceptor_.close(ignored);
    // Stop may close connections, which takes them out of the set.
    const auto connections = connections_;
    for (const auto& connection : connections)
        connection->Stop();
    if (connections_.empty())
        keepRunning_.reset();
}

void Server::Join() {
    workers_.join();
}

void Server::Ended(const std::shared_ptr<Connection>& connection) {
    connections_.erase(connection);
    if (stopping_ && connections_.empty())
        keepRunning_.reset();
}

} // namespace exhost::smtp
