// The IMAP front's connections: reading, handing input to the session on the pool, writing its
// answers in order, idle polls and autologout; accepting and the session limits are the shared
// listener's.

#include "server/imap/ImapServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace server::imap {

namespace asio = boost::asio;
using Stream = asio::generic::stream_protocol;
using boost::system::error_code;

namespace {

// Input a connection holds while its session is busy; it reads no more until that is taken.
constexpr std::size_t kMaxHeldInput = 256 * 1024;

} // namespace

class Connection : public net::AcceptedConnection, public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, Stream::socket socket, std::string client)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          pollTimer_(socket_.get_executor()), delayTimer_(socket_.get_executor()),
          backend_(server.NewBackend()),
          session_(*backend_, server.Settings().session, std::move(client)) {}

    void Begin() override {
        Send(session_.Greeting(), false);
        Read();
    }

    void Refuse(net::Refusal why, const asio::ip::address& client) override {
        if (why == net::Refusal::TooManySessions)
            return Send(Session::Bye("Too many sessions open, try again later"), true);
        Send(
            Session::Bye("Too many sessions from " + client.to_string() + " open, try again later"),
            true);
    }

    void Stop() override {
        session_.Interrupt();
        if (!busy_ && !closing_)
            Send(Session::Bye("Server shutting down"), true);
    }

private:
    void Read() {
        if (reading_ || closing_ || unreadInput_.size() > kMaxHeldInput)
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
                                    self->unreadInput_.append(self->buffer_.data(), n);
                                    self->Kick();
                                    self->Read();
                                });
    }

    // Hands unread input to the session when it is free.
    void Kick() {
        if (busy_ || closing_ || unreadInput_.empty())
            return;
        busy_ = true;
        asio::post(server_.Workers(), [self = shared_from_this(), input = std::move(unreadInput_)] {
            auto output = self->session_.Receive(input);
            asio::post(self->socket_.get_executor(),
                       [self, output = std::move(output)] { self->Answer(output); });
        });
        unreadInput_.clear();
    }

    void Answer(const Output& output) {
        if (output.delay.count() > 0) {
            delayTimer_.expires_after(output.delay);
            delayTimer_.async_wait(
                [self = shared_from_this(), output](error_code) { self->SendAnswer(output); });
            return;
        }
        SendAnswer(output);
    }

    // The answer goes out; then the next step, or the end.
    void SendAnswer(const Output& output) {
        if (closed_)
            return;
        const bool close = output.close || session_.Closed();
        if (!close && server_.Stopping()) {
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
            asio::post(self->server_.Workers(), [self] {
                auto output = self->session_.Poll();
                asio::post(self->socket_.get_executor(),
                           [self, output = std::move(output)] { self->SendAnswer(output); });
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
        session_.Interrupt();
        timer_.cancel();
        pollTimer_.cancel();
        delayTimer_.cancel();
        server_.Ended(socket_, shared_from_this());
    }

    Server& server_;
    Stream::socket socket_;
    asio::steady_timer timer_;
    asio::steady_timer pollTimer_;
    asio::steady_timer delayTimer_;
    std::unique_ptr<Backend> backend_;
    Session session_;
    std::array<char, 16384> buffer_{};
    std::string unreadInput_; // received, not yet given to the session
    std::vector<std::string> queue_;
    std::string outgoing_;
    bool reading_ = false;
    bool writing_ = false;
    bool busy_ = false;    // the session is working on a step
    bool closing_ = false; // the last bytes are on their way
    bool closed_ = false;
};

Server::Server(asio::io_context& io, const net::Stream::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : FrontServer(io, endpoint, std::move(settings), std::move(backends),
                  net::ConnectionsOf<Connection>(*this)) {
}

} // namespace server::imap
