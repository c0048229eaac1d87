// The SMTP/LMTP front's connections: protocol work on the network thread, backend calls on the
// pool, the deadlines; accepting and the session limits are the shared listener's.

#include "server/smtp/SmtpServer.h"

#include "server/log/ServerLog.h"
#include "server/net/Channel.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace server::smtp {

namespace asio = boost::asio;
using Stream = asio::generic::stream_protocol;
using boost::system::error_code;

class Connection : public net::AcceptedConnection, public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, Stream::socket socket, std::string client)
        : server_(server), channel_(std::move(socket)), client_(std::move(client)),
          timer_(channel_.Executor()), lookupTimer_(channel_.Executor()),
          backend_(server.NewBackend()),
          session_(server.Settings().hostName, server.Settings().limits, *backend_,
                   server.Settings().protocol, client_),
          started_(Clock::now()), sessionDeadline_(started_ + server.Settings().sessionTimeout) {
        if (server.Settings().tls)
            session_.OfferTls();
        if (server.Settings().submission)
            session_.RequireLogin(net::ClientIsLocal(client_));
    }

    bool ImplicitTls() const { return server_.Settings().tls && server_.Settings().implicitTls; }

    void Begin() override {
        log::Event(log::Severity::Info, "session-start")
            .Field("session", session_.Id())
            .Field("client", client_);
        begun_ = true;
        if (ImplicitTls())
            return StartTls();
        Send(session_.Greeting().Wire(), false);
    }

    void Refuse(net::Refusal why, const asio::ip::address& client) override {
        const auto& host = server_.Settings().hostName;
        const bool full = why == net::Refusal::TooManySessions;
        log::Event(log::Severity::Warning, "refused")
            .Field("client", client_)
            .Field("step", "connect")
            .Field("reason", full ? "too many sessions" : "too many sessions from the client");
        if (full)
            return CloseWith({421, {host + " has too many sessions open, try again later"}});
        CloseWith({421,
                   {"4.7.0 " + host + " has too many sessions from " + client.to_string() +
                    " open, try again later"}});
    }

    void Stop() override {
        backend_->Interrupt(); // a login waiting for its turn gives up, so that its step returns
        if (closing_ || closed_)
            return;
        if (handshaking_) { // nothing can be said to it until TLS is up
            ending_ = "server stopping";
            return Close();
        }
        // Busy connections look at the server's state when their current step ends.
        if (!reading_)
            return;
        if (session_.ReceivingMessage())
            ArmTimer(); // now the shorter drain deadline
        else
            CloseWith(session_.ClosingReply(), "server stopping");
    }

private:
    using Clock = std::chrono::steady_clock;
    enum class Awaited { Input, Command, Message, SessionEnd };

    // Writes the bytes, then either closes or goes on reading. A client that takes none of
    // them for the idle time is dropped: nothing can tell it so.
    void Send(std::string wire, bool thenClose) {
        outgoing_ = std::move(wire);
        writing_ = true;
        const auto generation = ++timerGeneration_;
        timer_.expires_at(
            std::min(Clock::now() + server_.Settings().idleTimeout, sessionDeadline_));
        timer_.async_wait([self = shared_from_this(), generation](error_code error) {
            if (error || generation != self->timerGeneration_ || !self->writing_ || self->closed_)
                return;
            self->ending_ = "the client took no replies";
            self->Close();
        });
        channel_.Write(asio::buffer(outgoing_),
                       [self = shared_from_this(), thenClose](error_code error, std::size_t) {
                           self->writing_ = false;
                           ++self->timerGeneration_;
                           self->timer_.cancel();
                           if (error || thenClose)
                               return self->Close();
                           self->session_.RepliesSent();
                           if (self->session_.StartingTls())
                               return self->StartTls();
                           self->StartStep();
                           self->Continue();
                       });
    }

    // After the 220 to STARTTLS, the handshake, then the session starts over; with implicit TLS,
    // the handshake, then the greeting.
    void StartTls() {
        const auto& settings = server_.Settings();
        handshaking_ = true;
        channel_.StartTls(settings.tls->Current(), settings.tlsHandshakeTimeout,
                          [self = shared_from_this()](error_code error) {
                              self->handshaking_ = false;
                              if (self->closed_)
                                  return;
                              if (error) {
                                  self->ending_ = "tls handshake failed: " + error.message();
                                  return self->Close();
                              }
                              log::Event(log::Severity::Info, "tls-start")
                                  .Field("session", self->session_.Id())
                                  .Field("client", self->client_)
                                  .Field("tls", self->channel_.TlsDescription());
                              const bool greet = !self->session_.StartingTls();
                              self->session_.TlsStarted();
                              if (greet)
                                  return self->Send(self->session_.Greeting().Wire(), false);
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
        if (server_.Stopping() && !session_.ReceivingMessage())
            return CloseWith(session_.ClosingReply(), "server stopping");
        // Input held while replies were sent comes before more from the socket: the client
        // is read from only once what it was told has gone out.
        if (session_.HoldsInput())
            return Feed({});
        reading_ = true;
        ArmTimer();
        channel_.ReadSome(
            asio::buffer(buffer_), [self = shared_from_this()](error_code error, std::size_t n) {
                self->reading_ = false;
                if (self->closing_ || self->closed_)
                    return;
                if (error) {
                    if (error != asio::error::eof && error != asio::ssl::error::stream_truncated)
                        self->ending_ = error.message();
                    return self->Close();
                }
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
            heldReplies_ += reply.Wire();
        if (session_.PendingCall())
            return AskBackend();
        std::string wire;
        wire.swap(heldReplies_);
        Replied(std::move(wire));
    }

    void AskBackend() {
        const auto& call = *session_.PendingCall();
        // A recipient the backend knows costs no trip to the pool and back; not while an
        // abandoned lookup still runs there, which uses the backend.
        if (call.kind == BackendCall::Kind::CheckRecipient && !backendBusy_)
            if (auto known = call.Known(*backend_))
                return Resume({std::move(*known)});
        const auto id = ++callId_;
        awaiting_ = true;
        if (call.kind == BackendCall::Kind::CheckRecipient) {
            lookupTimer_.expires_after(server_.Settings().lookupTimeout);
            lookupTimer_.async_wait([self = shared_from_this(), id](error_code error) {
                if (error || !self->awaiting_ || self->callId_ != id)
                    return;
                self->awaiting_ = false;
                const auto waited = self->server_.Settings().lookupTimeout.count();
                self->Resume({Verdict::Defer(
                    "4.4.3 The directory did not answer in time; try again later",
                    "the recipient lookup took longer than " + std::to_string(waited) + " ms")});
            });
        }
        // A lookup abandoned earlier may still run; this call waits for it to return.
        if (!backendBusy_)
            RunCall();
    }

    void RunCall() {
        backendBusy_ = true;
        server_.Workers().Post(
            [self = shared_from_this(), call = *session_.PendingCall(), id = callId_] {
                auto verdicts = call.Run(*self->backend_);
                asio::post(self->channel_.Executor(), [self, verdicts = std::move(verdicts), id] {
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
            ending_ = session_.Ending();
            return Send(std::move(wire), true);
        }
        if (server_.Stopping() && !session_.ReceivingMessage()) {
            closing_ = true;
            ending_ = "server stopping";
            return Send(std::move(wire) + session_.ClosingReply().Wire(), true);
        }
        if (wire.empty())
            return Continue();
        Send(std::move(wire), false);
    }

    // Sends a last reply while a read may still be pending; closing cancels that read.
    void CloseWith(const Reply& reply, std::string why = {}) {
        if (!why.empty())
            ending_ = std::move(why);
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
        if (server_.Stopping())
            consider(now + settings.drainTimeout, Awaited::Input);
        const auto generation = ++timerGeneration_;
        timer_.expires_at(deadline);
        timer_.async_wait([self = shared_from_this(), generation, awaited](error_code error) {
            if (error || generation != self->timerGeneration_ || !self->reading_ ||
                self->closing_ || self->closed_)
                return;
            self->CloseWith(self->TimedOut(awaited), self->Waited(awaited));
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

    static const char* Waited(Awaited awaited) {
        switch (awaited) {
        case Awaited::Command:
            return "command timeout";
        case Awaited::Message:
            return "data timeout";
        case Awaited::SessionEnd:
            return "session timeout";
        case Awaited::Input:
            break;
        }
        return "idle timeout";
    }

    void Close() {
        if (closed_)
            return;
        closed_ = true;
        backend_->Interrupt();
        ++timerGeneration_;
        timer_.cancel();
        lookupTimer_.cancel();
        if (begun_)
            log::Event(log::Severity::Info, "session-end")
                .Field("session", session_.Id())
                .Field("client", client_)
                .Field("reason", ending_)
                .Field("ms", static_cast<std::int64_t>(
                                 std::chrono::duration_cast<std::chrono::milliseconds>(
                                     Clock::now() - started_)
                                     .count()));
        server_.Ended(channel_.Lowest(), shared_from_this());
    }

    Server& server_;
    net::Channel channel_;
    const std::string client_; // its IP address, or "local"; for the log
    asio::steady_timer timer_;
    asio::steady_timer lookupTimer_;
    std::unique_ptr<Backend> backend_;
    Session session_;
    std::array<char, 16384> buffer_{};
    std::string outgoing_;
    std::string heldReplies_; // replies waiting for the backend's answer
    bool reading_ = false;
    bool handshaking_ = false; // a TLS handshake is under way
    bool writing_ = false;
    bool begun_ = false;   // admitted (not refused at once): its start and end are logged
    bool closing_ = false; // the last reply is on its way
    bool closed_ = false;
    std::string ending_ = "client closed"; // why the session ended, for the log
    std::uint64_t timerGeneration_ = 0;
    Clock::time_point started_;
    Clock::time_point sessionDeadline_;
    Clock::time_point stepDeadline_ = Clock::time_point::max();
    Awaited stepAwaits_ = Awaited::Command;
    std::uint64_t callId_ = 0;
    bool awaiting_ = false;    // the session waits for the answer to call callId_
    bool backendBusy_ = false; // a backend call of this session runs (perhaps an abandoned one)
};

Server::Server(asio::io_context& io, const net::Stream::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : FrontServer(io, endpoint, std::move(settings), std::move(backends),
                  net::ConnectionsOf<Connection>(*this)) {
}

} // namespace server::smtp
