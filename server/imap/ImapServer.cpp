// The IMAP front's connections: reading, handing input to the session on the pool, writing its
// answers in order, idle polls and autologout; accepting through the shared session set.

#include "server/imap/ImapServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace server::imap {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

// Input a connection holds while its session is busy; it reads no more until that is taken.
constexpr std::size_t kMaxHeldInput = 256 * 1024;

} // namespace

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, tcp::socket socket, std::unique_ptr<Backend> backend)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          pollTimer_(socket_.get_executor()), delayTimer_(socket_.get_executor()),
          backend_(std::move(backend)), session_(*backend_, server.Settings().session) {}

    void Begin() {
        Send(session_.Greeting(), false);
        Read();
    }

    // Ends the connection at once with this BYE (too many sessions).
    void Refuse(std::string_view why) { Send(Session::Bye(why), true); }

    void Stop() {
        if (!busy_ && !closing_)
            Send(Session::Bye("Server shutting down"), true);
    }

private:
    void Read() {
        if (reading_ || closing_ || held_.size() > kMaxHeldInput)
            return;
        reading_ = true;
        ArmAutoLogout();
        socket_.async_read_some(asio::buffer(buffer_),
                                [self = shared_from_this()](error_code error, std::size_t n) {
                                    self->reading_ = false;
                                    if (self->closed_)
                                        return;
                                    if (error)
                                        return self->Close();
                                    self->held_.append(self->buffer_.data(), n);
                                    self->Kick();
                                    self->Read();
                                });
    }

    // Hands held input to the session when it is free.
    void Kick() {
        if (busy_ || closing_ || held_.empty())
            return;
        busy_ = true;
        asio::post(server_.Sessions().Workers(),
                   [self = shared_from_this(), input = std::move(held_)] {
                       auto output = self->session_.Receive(input);
                       asio::post(self->socket_.get_executor(),
                                  [self, output = std::move(output)] { self->Answer(output); });
                   });
        held_.clear();
    }

    void Answer(const Output& output) {
        if (output.delay.count() > 0) {
            delayTimer_.expires_after(output.delay);
            delayTimer_.async_wait(
                [self = shared_from_this(), output](error_code) { self->Finish(output); });
            return;
        }
        Finish(output);
    }

    // The answer goes out; then the next step, or the end.
    void Finish(const Output& output) {
        if (closed_)
            return;
        const bool close = output.close || session_.Closed();
        if (!close && server_.Sessions().Stopping()) {
            Send(output.bytes + Session::Bye("Server shutting down"), true);
            return;
        }
        Send(output.bytes, close);
        busy_ = false;
        if (close)
            return;
        Kick();
        Read();
        if (session_.Idling())
            SchedulePoll();
    }

    void SchedulePoll() {
        pollTimer_.expires_after(server_.Settings().idlePoll);
        pollTimer_.async_wait([self = shared_from_this()](error_code error) {
            if (error || self->closing_)
                return;
            // The session is only looked at while no worker is using it.
            if (self->busy_)
                return self->SchedulePoll();
            if (!self->session_.Idling())
                return;
            self->busy_ = true;
            asio::post(self->server_.Sessions().Workers(), [self] {
                auto output = self->session_.Poll();
                asio::post(self->socket_.get_executor(),
                           [self, output = std::move(output)] { self->Finish(output); });
            });
        });
    }

    // Writes go out in order, one at a time.
    void Send(std::string bytes, bool thenClose) {
        if (closing_)
            return;
        closing_ = thenClose;
        if (!bytes.empty())
            queue_.push_back(std::move(bytes));
        if (!writing_)
            WriteNext();
    }

    void WriteNext() {
        if (queue_.empty()) {
            if (closing_)
                Close();
            return;
        }
        writing_ = true;
        outgoing_ = std::move(queue_.front());
        queue_.erase(queue_.begin());
        asio::async_write(socket_, asio::buffer(outgoing_),
                          [self = shared_from_this()](error_code error, std::size_t) {
                              self->writing_ = false;
                              if (error)
                                  return self->Close();
                              self->WriteNext();
                          });
    }

    void ArmAutoLogout() {
        timer_.expires_after(server_.Settings().autoLogout);
        timer_.async_wait([self = shared_from_this()](error_code error) {
            if (error || self->closing_)
                return;
            if (self->busy_)
                return self->ArmAutoLogout();
            self->Send(Session::Bye("Autologout: nothing sent for too long"), true);
        });
    }

    void Close() {
        if (closed_)
            return;
        closed_ = true;
        closing_ = true;
        timer_.cancel();
        pollTimer_.cancel();
        delayTimer_.cancel();
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.Sessions().Ended(shared_from_this());
    }

    Server& server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    asio::steady_timer pollTimer_;
    asio::steady_timer delayTimer_;
    std::unique_ptr<Backend> backend_;
    Session session_;
    std::array<char, 16384> buffer_{};
    std::string held_; // received, not yet given to the session
    std::vector<std::string> queue_;
    std::string outgoing_;
    bool reading_ = false;
    bool writing_ = false;
    bool busy_ = false;    // the session is working on a step
    bool closing_ = false; // the last bytes are on their way
    bool closed_ = false;
};

Server::Server(asio::io_context& io, const tcp::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : acceptor_(io), settings_(std::move(settings)), backends_(std::move(backends)),
      sessions_(io, settings_.maxSessions) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
}

tcp::endpoint Server::LocalEndpoint() const {
    return acceptor_.local_endpoint();
}

void Server::Start() {
    sessions_.Start();
    Accept();
}

void Server::Accept() {
    acceptor_.async_accept([this](error_code error, tcp::socket socket) {
        if (sessions_.Stopping() || error == asio::error::operation_aborted)
            return;
        if (!error) {
            auto connection = std::make_shared<Connection>(*this, std::move(socket), backends_());
            if (sessions_.Admit(connection))
                connection->Begin();
            else
                connection->Refuse("Too many sessions open, try again later");
        }
        Accept();
    });
}

void Server::Stop() {
    error_code ignored;
    acceptor_.close(ignored);
    sessions_.Stop();
}

} // namespace server::imap
