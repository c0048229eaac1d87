// The SMTP/LMTP front's connections: protocol work on the network thread, backend calls on the
// pool, the deadlines; accepting (per-client limits) through the shared session set.

#include "server/smtp/SmtpServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <cstring>
#include <sys/socket.h>

namespace server::smtp {

namespace asio = boost::asio;
using asio::ip::tcp;
using Stream = asio::generic::stream_protocol;
using boost::system::error_code;

namespace {

bool IsInternet(const Stream::endpoint& endpoint) {
    const auto family = endpoint.protocol().family();
    return family == AF_INET || family == AF_INET6;
}

// The IP address and port of an internet endpoint; unspecified for a unix socket's.
tcp::endpoint AsTcp(const Stream::endpoint& endpoint) {
    tcp::endpoint internet;
    if (IsInternet(endpoint) && endpoint.size() <= internet.capacity()) {
        std::memcpy(internet.data(), endpoint.data(), endpoint.size());
        internet.resize(endpoint.size());
    }
    return internet;
}

} // namespace

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, Stream::socket socket, std::unique_ptr<Backend> backend,
               asio::ip::address client)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          lookupTimer_(socket_.get_executor()), backend_(std::move(backend)),
          session_(server.Settings().hostName, server.Settings().limits, *backend_,
                   server.Settings().protocol),
          client_(std::move(client)),
          sessionDeadline_(Clock::now() + server.Settings().sessionTimeout) {}

    const asio::ip::address& ClientAddress() const { return client_; }

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
    using Clock = std::chrono::steady_clock;
    enum class Awaited { Input, Command, Message, SessionEnd };

    // Writes the bytes, then either closes or goes on reading.
    void Send(std::string wire, bool thenClose) {
        outgoing_ = std::move(wire);
        asio::async_write(socket_, asio::buffer(outgoing_),
                          [self = shared_from_this(), thenClose](error_code error, std::size_t) {
                              if (error || thenClose)
                                  return self->Close();
                              self->StartStep();
                              self->Continue();
                          });
    }

    // A reply went out: the next command, or the message after a 354, has its own deadline.
    void StartStep() {
        const auto& settings = server_.Settings();
        const bool message = session_.ReceivingMessage();
        stepDeadline_ = Clock::now() + (message ? settings.dataTimeout : settings.commandTimeout);
        stepAwaits_ = message ? Awaited::Message : Awaited::Command;
    }

    void Continue() {
        if (closing_ || closed_)
            return;
        if (server_.Sessions().Stopping() && !session_.ReceivingMessage())
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
                                    self->Feed(std::string_view(self->buffer_.data(), n));
                                });
    }

    // Session work runs here, on the network thread: it is a few microseconds per read of at
    // most 16 KB, far less than handing it to another thread and back would cost.
    void Feed(std::string_view bytes) { Progress(session_.Receive(bytes)); }

    void Resume(const std::vector<Verdict>& verdicts) { Progress(session_.Resume(verdicts)); }

    // Replies are held while the session waits for the backend, and go out together.
    void Progress(const std::vector<Reply>& replies) {
        for (const auto& reply : replies)
            held_ += reply.Wire();
        if (session_.PendingCall())
            return AskBackend();
        std::string wire;
        wire.swap(held_);
        Replied(std::move(wire));
    }

    void AskBackend() {
        const auto& call = *session_.PendingCall();
        // A recipient the backend knows costs no trip to the pool and back; not while an
        // abandoned lookup still runs there, which uses the backend.
        if (call.kind == BackendCall::Kind::CheckRecipient && !backendBusy_)
            if (auto known = backend_->KnownRecipient(call.address))
                return Resume({std::move(*known)});
        const auto id = ++callId_;
        awaiting_ = true;
        if (call.kind == BackendCall::Kind::CheckRecipient) {
            lookupTimer_.expires_after(server_.Settings().lookupTimeout);
            lookupTimer_.async_wait([self = shared_from_this(), id](error_code error) {
                if (error || !self->awaiting_ || self->callId_ != id)
                    return;
                self->awaiting_ = false;
                self->Resume({Verdict::Defer(
                    "4.4.3 The directory did not answer in time; try again later")});
            });
        }
        // A lookup abandoned earlier may still run; this call waits for it to return.
        if (!backendBusy_)
            RunCall();
    }

    void RunCall() {
        backendBusy_ = true;
        asio::post(server_.Sessions().Workers(), [self = shared_from_this(),
                                                  call = *session_.PendingCall(), id = callId_] {
            auto verdicts = call.Run(*self->backend_);
            asio::post(self->socket_.get_executor(), [self, verdicts = std::move(verdicts), id] {
                self->Answered(verdicts, id);
            });
        });
    }

    void Answered(const std::vector<Verdict>& verdicts, std::uint64_t id) {
        backendBusy_ = false;
        if (!awaiting_)
            return; // a late answer, and nothing else is waiting
        if (id != callId_)
            return RunCall(); // a late answer: now the question the session waits on
        awaiting_ = false;
        lookupTimer_.cancel();
        Resume(verdicts);
    }

    void Replied(std::string wire) {
        if (session_.Closed()) {
            closing_ = true;
            return Send(std::move(wire), true);
        }
        if (server_.Sessions().Stopping() && !session_.ReceivingMessage()) {
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

    // Whichever comes first: no input for the idle time, the end of the time for the current
    // command or message, the end of the session's time, or (when stopping) of the drain time.
    void ArmTimer() {
        const auto& settings = server_.Settings();
        const auto now = Clock::now();
        auto deadline = now + settings.idleTimeout;
        auto awaited = Awaited::Input;
        const auto consider = [&](Clock::time_point candidate, Awaited what) {
            if (candidate < deadline) {
                deadline = candidate;
                awaited = what;
            }
        };
        consider(stepDeadline_, stepAwaits_);
        consider(sessionDeadline_, Awaited::SessionEnd);
        if (server_.Sessions().Stopping())
            consider(now + settings.drainTimeout, Awaited::Input);
        const auto generation = ++timerGeneration_;
        timer_.expires_at(deadline);
        timer_.async_wait([self = shared_from_this(), generation, awaited](error_code error) {
            if (error || generation != self->timerGeneration_ || !self->reading_ ||
                self->closing_ || self->closed_)
                return;
            self->Finish(self->TimedOut(awaited));
        });
    }

    Reply TimedOut(Awaited awaited) const {
        const auto& host = server_.Settings().hostName;
        switch (awaited) {
        case Awaited::Command:
            return {421,
                    {"4.4.2 " + host +
                     " a command took too long to arrive, closing the "
                     "connection"}};
        case Awaited::Message:
            return {421,
                    {"4.4.2 " + host +
                     " the message took too long to arrive, closing the "
                     "connection"}};
        case Awaited::SessionEnd:
            return {421,
                    {"4.7.0 " + host +
                     " the session has lasted too long, closing the "
                     "connection"}};
        case Awaited::Input:
            break;
        }
        return {421, {"4.4.2 " + host + " waited too long for input, closing the connection"}};
    }

    void Close() {
        if (closed_)
            return;
        closed_ = true;
        ++timerGeneration_;
        timer_.cancel();
        lookupTimer_.cancel();
        error_code ignored;
        socket_.shutdown(Stream::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.Ended(shared_from_this());
    }

    Server& server_;
    Stream::socket socket_;
    asio::steady_timer timer_;
    asio::steady_timer lookupTimer_;
    std::unique_ptr<Backend> backend_;
    Session session_;
    asio::ip::address client_;
    std::array<char, 16384> buffer_{};
    std::string outgoing_;
    std::string held_; // replies waiting for the backend's answer
    bool reading_ = false;
    bool closing_ = false; // the last reply is on its way
    bool closed_ = false;
    std::uint64_t timerGeneration_ = 0;
    Clock::time_point sessionDeadline_;
    Clock::time_point stepDeadline_ = Clock::time_point::max();
    Awaited stepAwaits_ = Awaited::Command;
    std::uint64_t callId_ = 0;
    bool awaiting_ = false;    // the session waits for the answer to call callId_
    bool backendBusy_ = false; // a backend call of this session runs (perhaps an abandoned one)
};

Server::Server(asio::io_context& io, const Stream::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : acceptor_(io), settings_(std::move(settings)), backends_(std::move(backends)),
      sessions_(io, settings_.maxSessions) {
    acceptor_.open(endpoint.protocol());
    if (IsInternet(endpoint))
        acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
}

tcp::endpoint Server::LocalEndpoint() const {
    return AsTcp(acceptor_.local_endpoint());
}

void Server::Start() {
    sessions_.Start();
    Accept();
}

void Server::Accept() {
    acceptor_.async_accept([this](error_code error, Stream::socket socket) {
        if (sessions_.Stopping() || error == asio::error::operation_aborted)
            return;
        if (!error) {
            error_code unknown;
            const auto remote = socket.remote_endpoint(unknown);
            const auto client = unknown ? asio::ip::address() : AsTcp(remote).address();
            auto connection =
                std::make_shared<Connection>(*this, std::move(socket), backends_(), client);
            const auto fromClient = ++sessionsPerClient_[client];
            if (!sessions_.Admit(connection))
                connection->Refuse({421,
                                    {settings_.hostName + " has too many sessions open, try again "
                                                          "later"}});
            else if (fromClient > settings_.maxSessionsPerClient && !client.is_unspecified())
                connection->Refuse(
                    {421,
                     {"4.7.0 " + settings_.hostName + " has too many sessions from " +
                      client.to_string() + " open, try again later"}});
            else
                connection->Begin();
        }
        Accept();
    });
}

void Server::Stop() {
    error_code ignored;
    acceptor_.close(ignored);
    sessions_.Stop();
}

void Server::Ended(const std::shared_ptr<Connection>& connection) {
    const auto client = sessionsPerClient_.find(connection->ClientAddress());
    if (client != sessionsPerClient_.end() && --client->second == 0)
        sessionsPerClient_.erase(client);
    sessions_.Ended(connection);
}

} // namespace server::smtp
