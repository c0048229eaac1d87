// The IMAP front's connections: reading, handing input to the session on the pool, writing its
// answers in order with a bound on what waits to be sent, idle polls, the login timeout,
// autologout and stopping; accepting and the session limits are the shared listener's.

#include "server/imap/ImapServer.h"

#include "server/imap/ImapFailures.h"
#include "server/log/ServerLog.h"
#include "server/net/Channel.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <deque>
#include <optional>

namespace server::imap {

namespace asio = boost::asio;
using Stream = asio::generic::stream_protocol;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

// How long the last bytes of a session that ends may take to be sent to a client that reads
// slowly, or not at all.
constexpr auto kLastBytes = std::chrono::seconds(30);

// The session's settings for a client: whether TLS is offered or already up, and whether it may
// send a password before.
SessionSettings SessionSettingsFor(const ServerSettings& server, const std::string& client) {
    auto settings = server.session;
    settings.tlsOffered = server.tls && !server.implicitTls;
    settings.encrypted = server.tls && server.implicitTls;
    settings.loginInClear = net::ClientIsLocal(client);
    return settings;
}

} // namespace

class Connection : public net::AcceptedConnection, public std::enable_shared_from_this<Connection> {
public:
    Connection(Server& server, Stream::socket socket, std::string client)
        : server_(server), settings_(server.Settings()), channel_(std::move(socket)),
          autoLogoutTimer_(channel_.Executor()), loginTimer_(channel_.Executor()),
          pollTimer_(channel_.Executor()), delayTimer_(channel_.Executor()),
          stopTimer_(channel_.Executor()), lastBytesTimer_(channel_.Executor()),
          client_(std::move(client)), backend_(server.NewBackend()),
          session_(*backend_, SessionSettingsFor(settings_, client_), client_) {}

    void Begin() override {
        begun_ = Clock::now();
        log::Event(log::Severity::Info, "session-start")
            .Field("session", session_.Id())
            .Field("client", client_);
        if (settings_.tls && settings_.implicitTls)
            return Handshake([](Connection& self) { self.Greet(); });
        Greet();
    }

    void Refuse(net::Refusal why, const asio::ip::address& client) override {
        const bool tooMany = why == net::Refusal::TooManySessions;
        log::Event(log::Severity::Warning, "refused")
            .Field("client", client_)
            .Field("reason", tooMany ? "too many sessions" : "too many sessions from the client");
        End(Session::Bye(tooMany ? "Too many sessions open, try again later"
                                 : "Too many sessions from " + client.to_string() +
                                       " open, try again later"),
            "refused");
    }

    void Stop() override {
        // A login waiting for its turn gives up, so that its step returns.
        session_.Interrupt();
        if (closed_)
            return;
        if (handshaking_ || startingTls_) // nothing can be said to it until TLS is up
            return Close("server-stopping");
        if (closing_) // its last bytes get no longer than any session's on stopping
            return ArmLastBytes(settings_.stopGrace);
        if (!busy_)
            return End(Session::Bye("Server shutting down"), "server-stopping");
        // The step under way may still be answered (SendAnswer adds the BYE); a hung one is not
        // waited for.
        stopTimer_.expires_after(settings_.stopGrace);
        stopTimer_.async_wait([self = shared_from_this()](error_code error) {
            if (!error)
                self->End(Session::Bye("Server shutting down"), "server-stopping");
        });
    }

private:
    void Greet() {
        Send(session_.Greeting());
        ArmLoginTimeout();
        Read();
    }

    // The TLS handshake, then `then`; a client that fails it is closed.
    void Handshake(void (*then)(Connection&)) {
        handshaking_ = true;
        channel_.StartTls(settings_.tls->Current(), settings_.tlsHandshakeTimeout,
                          [self = shared_from_this(), then](error_code error) {
                              self->handshaking_ = false;
                              if (self->closed_)
                                  return;
                              if (error)
                                  return self->Close("tls-handshake-failed: " + error.message());
                              log::Event(log::Severity::Info, "tls-start")
                                  .Field("session", self->session_.Id())
                                  .Field("client", self->client_)
                                  .Field("tls", self->channel_.TlsDescription());
                              then(*self);
                          });
    }

    // After the OK to STARTTLS has gone out and no read is pending: the handshake, then the
    // session goes on with what comes through TLS.
    void StartTlsWhenQuiet() {
        if (!startingTls_ || writing_ || !queue_.empty() || closing_)
            return;
        if (reading_) {
            // A read begun before the answer came; whatever it brings came in clear.
            error_code ignored;
            channel_.Lowest().cancel(ignored);
            return;
        }
        startingTls_ = false;
        unreadInput_.clear();
        Handshake([](Connection& self) {
            self.Kick();
            self.Read();
        });
    }

    // Reads while the session is behind neither with its input nor with its output.
    void Read() {
        if (reading_ || closing_ || startingTls_ || handshaking_ ||
            unreadInput_.size() >= HeldInput() || OutputFull())
            return;
        // While a step that may be STARTTLS runs, nothing is read: the client's first bytes
        // after the answer are its TLS handshake, which a read in clear would swallow.
        if (busy_ && MayStartTls())
            return;
        reading_ = true;
        ArmAutoLogout();
        channel_.ReadSome(
            asio::buffer(buffer_), [self = shared_from_this()](error_code error, std::size_t n) {
                self->reading_ = false;
                if (self->closing_)
                    return;
                if (self->startingTls_)
                    return self->StartTlsWhenQuiet();
                if (error)
                    return self->Close(error == asio::error::eof ||
                                               error == asio::ssl::error::stream_truncated
                                           ? "client-closed"
                                           : "network-error");
                self->unreadInput_.append(self->buffer_.data(), n);
                self->Kick();
                self->Read();
            });
    }

    bool OutputFull() const { return unsent_ >= settings_.maxUnsentOutput; }
    std::size_t HeldInput() const {
        return loggedIn_ ? settings_.maxHeldInput : settings_.maxHeldInputBeforeLogin;
    }
    bool MayStartTls() const { return settings_.tls && !channel_.Encrypted() && !loggedIn_; }

    // Starts the session's next step when it is free: the input received, or what it holds
    // already (then the input waits, so that the session never holds more than one share).
    // What needs no backend call (a "+" for a literal, input that completes nothing) is answered
    // here: handing it to the pool and back took as long as the continuation's round trip.
    void Kick() {
        // Input the session cannot act on yet waits here, unless it is all that may be held.
        if (busy_ || closing_ || startingTls_ || handshaking_ || OutputFull() ||
            (!pending_ && unreadInput_.size() < std::min(awaited_, HeldInput())))
            return;
        if (!pending_) {
            busy_ = true;
            std::optional<Output> output;
            try {
                output = session_.ReceiveAtOnce(std::exchange(unreadInput_, {}));
            } catch (...) {
                output = StepFailed();
            }
            if (output)
                return Answer(std::move(*output));
        }
        RunOnPool([self = shared_from_this()] { return self->session_.Receive({}); });
    }

    // One step of the session on the pool; its answer comes back to the network thread. Any
    // failure ends this session alone.
    template <class Step> void RunOnPool(Step step) {
        busy_ = true;
        server_.Workers().Post([self = shared_from_this(), step = std::move(step)] {
            Output output;
            try {
                output = step();
            } catch (...) {
                output = self->StepFailed();
            }
            asio::post(self->channel_.Executor(), [self, output = std::move(output)]() mutable {
                self->Answer(std::move(output));
            });
        });
    }

    // The answer to a step that threw: logged, and the session ends.
    Output StepFailed() {
        const auto id = LogFailure({session_.Id(), client_, {}, "session step"},
                                   FailureDetail(std::current_exception()));
        auto output = imap::Answer(Session::Bye(FailureText(id)));
        output.close = true;
        output.ending = "failure";
        return output;
    }

    void Answer(Output output) {
        if (closing_) {
            busy_ = false; // the session ended meanwhile: the late answer is dropped
            return;
        }
        if (output.delay.count() > 0) {
            delayTimer_.expires_after(output.delay);
            delayTimer_.async_wait(
                [self = shared_from_this(), output = std::move(output)](error_code) mutable {
                    self->SendAnswer(std::move(output));
                });
            return;
        }
        SendAnswer(std::move(output));
    }

    // The answer goes out; then the next step, or the end.
    void SendAnswer(Output output) {
        busy_ = false;
        if (closing_)
            return;
        pending_ = output.pending;
        awaited_ = std::max<std::size_t>(output.awaited, 1);
        idling_ = output.idling;
        loggedIn_ = output.loggedIn;
        if (loggedIn_)
            loginTimer_.cancel();
        Watch(idling_ ? output.watch : std::string());
        if (output.close)
            return End(std::move(output.bytes), output.ending);
        if (server_.Stopping())
            return End(output.bytes + Session::Bye("Server shutting down"), "server-stopping");
        startingTls_ = output.startTls;
        Send(std::move(output.bytes));
        if (startingTls_)
            return StartTlsWhenQuiet();
        Kick();
        Read();
        if (idling_ && !busy_) {
            if (std::exchange(wokenMeanwhile_, false))
                return PollNow();
            SchedulePoll();
        }
    }

    // Registers the session's interest in the folder with that change token (none: empty).
    void Watch(const std::string& token) {
        if (token == watchToken_)
            return;
        if (watchId_ != 0)
            server_.Watchers().Unwatch(std::exchange(watchId_, 0));
        watchToken_ = token;
        if (token.empty())
            return;
        watchId_ = server_.Watchers().Watch(token, [weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->Woken();
        });
    }

    // The watched folder changed.
    void Woken() {
        if (closing_ || !idling_)
            return;
        if (busy_) { // the step under way may have read the folder before the change
            wokenMeanwhile_ = true;
            return;
        }
        PollNow();
    }

    void PollNow() {
        pollTimer_.cancel();
        if (OutputFull())
            return SchedulePoll();
        RunOnPool([self = shared_from_this()] { return self->session_.Poll(); });
    }

    void SchedulePoll() {
        pollTimer_.expires_after(settings_.idlePoll);
        pollTimer_.async_wait([self = shared_from_this()](error_code error) {
            // A step under way reschedules the poll when it is answered, if still idling.
            if (error || self->closing_ || self->busy_ || !self->idling_)
                return;
            if (self->OutputFull())
                return self->SchedulePoll();
            self->RunOnPool([self] { return self->session_.Poll(); });
        });
    }

    // Writes go out in order, one at a time.
    void Send(std::string bytes) {
        if (closed_)
            return;
        if (!bytes.empty()) {
            unsent_ += bytes.size();
            queue_.push_back(std::move(bytes));
        }
        if (!writing_)
            WriteNext();
    }

    void WriteNext() {
        if (queue_.empty()) {
            if (closing_)
                Close(ending_);
            return;
        }
        writing_ = true;
        outgoing_ = std::move(queue_.front());
        queue_.pop_front();
        channel_.Write(asio::buffer(outgoing_),
                       [self = shared_from_this()](error_code error, std::size_t) {
                           self->writing_ = false;
                           self->unsent_ -= self->outgoing_.size();
                           self->outgoing_ = std::string();
                           if (self->closed_)
                               return;
                           if (error)
                               return self->Close("network-error");
                           self->WriteNext();
                           if (self->closing_)
                               return;
                           if (self->startingTls_)
                               return self->StartTlsWhenQuiet();
                           // The client takes its answers: it is not idle.
                           self->ArmAutoLogout();
                           self->Kick();
                           self->Read();
                       });
    }

    // Sends the last bytes and closes; a step under way is not waited for (its answer is
    // dropped), nor a client that does not read them.
    void End(std::string bytes, std::string ending) {
        if (closing_)
            return;
        closing_ = true;
        ending_ = std::move(ending);
        session_.Interrupt(); // its answer would be dropped: a login waiting for its turn gives up
        autoLogoutTimer_.cancel();
        loginTimer_.cancel();
        pollTimer_.cancel();
        stopTimer_.cancel();
        ArmLastBytes(server_.Stopping() ? settings_.stopGrace : kLastBytes);
        Send(std::move(bytes));
    }

    void ArmLastBytes(std::chrono::milliseconds within) {
        lastBytesTimer_.expires_after(within);
        lastBytesTimer_.async_wait([self = shared_from_this()](error_code error) {
            if (!error)
                self->Close(self->ending_);
        });
    }

    // The client is not idle: the autologout counts from now. The timer is set again only when
    // it runs out, not at every read and write (which cost a system call each).
    void ArmAutoLogout() {
        autoLogoutFrom_ = Clock::now();
        if (!std::exchange(autoLogoutArmed_, true))
            WaitForAutoLogout();
    }

    void WaitForAutoLogout() {
        autoLogoutTimer_.expires_at(autoLogoutFrom_ + settings_.autoLogout);
        autoLogoutTimer_.async_wait([self = shared_from_this()](error_code error) {
            if (!error && Clock::now() < self->autoLogoutFrom_ + self->settings_.autoLogout)
                return self->WaitForAutoLogout();
            self->autoLogoutArmed_ = false;
            if (!error)
                self->End(Session::Bye("Autologout: nothing sent for too long"), "autologout");
        });
    }

    void ArmLoginTimeout() {
        loginTimer_.expires_after(settings_.loginTimeout);
        loginTimer_.async_wait([self = shared_from_this()](error_code error) {
            if (!error && !self->loggedIn_)
                self->End(Session::Bye("No login in time, closing"), "login-timeout");
        });
    }

    void Close(const std::string& why) {
        if (closed_)
            return;
        closed_ = true;
        closing_ = true;
        session_.Interrupt();
        if (ending_.empty())
            ending_ = why;
        autoLogoutTimer_.cancel();
        loginTimer_.cancel();
        pollTimer_.cancel();
        delayTimer_.cancel();
        stopTimer_.cancel();
        lastBytesTimer_.cancel();
        Watch({});
        if (begun_) {
            const auto lasted =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *begun_);
            log::Event(log::Severity::Info, "session-end")
                .Field("session", session_.Id())
                .Field("client", client_)
                .Field("reason", ending_)
                .Field("ms", static_cast<std::int64_t>(lasted.count()));
        }
        queue_.clear();
        server_.Ended(channel_.Lowest(), shared_from_this());
    }

    Server& server_;
    const ServerSettings& settings_;
    net::Channel channel_;
    asio::steady_timer autoLogoutTimer_;
    asio::steady_timer loginTimer_;
    asio::steady_timer pollTimer_;
    asio::steady_timer delayTimer_;
    asio::steady_timer stopTimer_;
    asio::steady_timer lastBytesTimer_;
    const std::string client_;
    std::unique_ptr<Backend> backend_;
    Session session_; // used by one step at a time, on the pool
    std::optional<Clock::time_point> begun_;
    std::array<char, 16384> buffer_{};
    std::string unreadInput_; // received, not yet given to the session
    std::deque<std::string> queue_;
    std::string outgoing_;
    std::size_t unsent_ = 0; // octets queued or being written
    std::string ending_;     // why the session ends, for the log
    bool reading_ = false;
    bool autoLogoutArmed_ = false;
    std::size_t awaited_ = 1; // octets the session needs before its next step (Output::awaited)
    Clock::time_point autoLogoutFrom_;
    bool writing_ = false;
    bool busy_ = false;    // a step of the session runs on the pool
    bool closing_ = false; // the session has ended: its last bytes are on their way
    bool closed_ = false;
    // The session as its last step left it.
    bool pending_ = false;
    bool idling_ = false;
    bool loggedIn_ = false;
    bool startingTls_ = false; // STARTTLS answered: no more reads in clear, the handshake next
    std::string watchToken_;   // the folder it watches while idling
    IdleWatchers::Id watchId_ = 0;
    bool wokenMeanwhile_ = false; // a notice came while a step ran
    bool handshaking_ = false;
};

Server::Server(asio::io_context& io, const net::Stream::endpoint& endpoint, ServerSettings settings,
               BackendFactory backends)
    : FrontServer(io, endpoint, std::move(settings), std::move(backends),
                  net::ConnectionsOf<Connection>(*this)) {
    if (!Settings().changes)
        return;
    subscription_ = Settings().changes->Listen(
        [watchers = std::weak_ptr(watchers_),
         executor = io.get_executor()](const std::vector<std::string>& tokens) {
            asio::post(executor, [watchers, tokens] {
                if (const auto alive = watchers.lock())
                    alive->Notify(tokens);
            });
        });
}

Server::~Server() {
    // No notice arrives once this returns.
    subscription_.reset();
}

} // namespace server::imap
