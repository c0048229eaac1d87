#pragma once

// One SMTP or LMTP (RFC 2033) session as a state machine: bytes from the client go in, the replies
// they call for come out, in order. No sockets: the network layer feeds it whatever arrives
// (several pipelined commands at once, or a command split over several reads) and writes the
// replies.
//
// Command lines end with CRLF; a bare LF ends a command line too, because local scripts often
// send one. Inside a message only CRLF ends a line and only CRLF "." CRLF ends the message (the
// DATA command's own line end counting as the first CRLF): a message holding a bare LF (or
// announced by a DATA line ended with a bare LF) is read to its real end and refused with 554,
// because MTAs disagree on where such a message ends (SMTP smuggling). A CR that is not
// followed by LF stays part of its line everywhere. Message lines may be of any length; only
// the whole message's size is limited.
//
// LMTP is SMTP with LHLO in place of EHLO and HELO, for a mail transport that hands over its
// queue: after the message, each accepted recipient gets a reply of its own, in RCPT order, so
// that one mailbox's failure does not make the client retry the others.
//
// Two ways to use it. Feed() calls the backend itself, on the caller's thread. Receive() stops
// where the backend is needed, leaving the rest of the input for later: the caller runs
// PendingCall() wherever it likes and hands the verdict to Resume(), which goes on with the
// input received meanwhile. Receive() and Resume() also stop once the replies they gave since
// the last RepliesSent() reach Limits::maxUnsentReplies, holding the rest of the input
// (HoldsInput()) until the caller has sent them and calls Receive() again: a client that
// pipelines commands and never reads its replies then costs the server that much, not a reply
// per command it sent.
//
// The session logs what the operator needs (server/log): every recipient refused, every
// failure of the backend with the id its reply names, and closing on too many refusals.

#include "server/smtp/SmtpBackend.h"
#include "server/smtp/SmtpReply.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::smtp {

struct Limits {
    std::size_t maxMessageBytes = 10 * 1024 * 1024; // the message as stored, CRLF line ends
    std::size_t maxCommandLine = 512;               // octets, CRLF included
    std::size_t maxRecipients = 100;
    // The recipient refused this often in one session (no such mailbox) is answered 421 and
    // the session closes: probing for addresses costs a reconnect every so many guesses.
    // Accepted recipients in between do not reset the count, or a prober would interleave one
    // address it knows. 0: no limit.
    std::size_t maxRefusedRecipients = 20;
    // Octets of replies given and not yet sent after which input is held (see above).
    std::size_t maxUnsentReplies = 16 * 1024;
};

enum class Protocol { Smtp, Lmtp };

// A question for the backend the session is waiting on.
struct BackendCall {
    enum class Kind { CheckRecipient, Deliver, DeliverEach, Authenticate, CheckSender };
    Kind kind = Kind::CheckRecipient;
    std::string address;                // CheckRecipient, CheckSender
    const Envelope* envelope = nullptr; // Deliver: the session's, valid until Resume()
    const std::string* message = nullptr;
    Login login{}; // Authenticate

    // One verdict, or one per recipient for DeliverEach. Anything the backend throws becomes
    // a failure verdict (Verdict::Fail) with what it said.
    std::vector<Verdict> Run(Backend& backend) const;
    // Backend::KnownRecipient for CheckRecipient, a failure if it throws.
    std::optional<Verdict> Known(Backend& backend) const;
};

class Session {
public:
    // `hostName` is the name the server greets with; the backend (used by Feed() only) must
    // outlive the session. `client` names the client in the log: its IP address, or "local".
    Session(std::string hostName, Limits limits, Backend& backend,
            Protocol protocol = Protocol::Smtp, std::string client = "local");

    // The session's id in the log (log::NewId()), and the client's name.
    const std::string& Id() const { return id_; }
    const std::string& Client() const { return client_; }

    Reply Greeting() const;
    // The reply that ends a session the server closes on its own (shutting down).
    Reply ClosingReply() const;

    // Receives the bytes and answers every backend question on this thread.
    std::vector<Reply> Feed(std::string_view bytes);

    // Receives the bytes, stopping at the first backend question; bytes received while a
    // question is pending are kept for after its answer.
    std::vector<Reply> Receive(std::string_view bytes);
    const std::optional<BackendCall>& PendingCall() const { return call_; }
    // Answers the pending question and goes on with the input kept back. For DeliverEach, one
    // verdict per recipient (a recipient without one gets 451); a single verdict answers for
    // every recipient.
    std::vector<Reply> Resume(const std::vector<Verdict>& verdicts);
    std::vector<Reply> Resume(const Verdict& verdict);

    // The replies given so far are on their way: Receive() may give as many again.
    void RepliesSent() { unsentReplies_ = 0; }
    // Input is held until the replies given have been sent; Receive({}) goes on with it.
    bool HoldsInput() const { return !unread_.empty() && !call_ && !closed_; }

    // QUIT was answered, or the session ended itself with 421 (too many refused recipients);
    // later input is ignored.
    bool Closed() const { return closed_; }
    // Why it closed, for the log: "quit" or "too many refused recipients".
    const char* Ending() const { return ending_; }
    // Between the 354 reply and the line that ends the message.
    bool ReceivingMessage() const { return state_ == State::Data; }

    // The server can start TLS: EHLO and LHLO offer STARTTLS (RFC 3207) until it has started.
    void OfferTls() { tls_ = Tls::Offered; }
    // STARTTLS was answered 220: the handshake comes next. Input that came with or after the
    // command was dropped, and later input is ignored until TlsStarted(): it was sent in clear
    // and must not pass for what came through TLS.
    bool StartingTls() const { return tls_ == Tls::Starting; }
    // The handshake is done: the session starts over (the client greets again), encrypted.
    void TlsStarted();
    bool Encrypted() const { return tls_ == Tls::Active; }

    // Message submission (RFC 6409): MAIL needs a login first (AUTH, RFC 4954: PLAIN and
    // LOGIN), and only its user's own addresses may send (Backend::CheckSender). AUTH is
    // offered and taken once the session is encrypted, or at once when `inClear` (a client on
    // this machine, whose password crosses no network).
    void RequireLogin(bool inClear) {
        login_ = inClear ? LoginRule::InClear : LoginRule::Encrypted;
    }
    // The user the session authenticated as; empty before.
    const std::string& User() const { return user_; }

private:
    enum class State { Connected, Greeted, Mail, Data };
    enum class Tls { None, Offered, Starting, Active };
    // Whether logins are needed and where they may come in clear.
    enum class LoginRule { NotNeeded, Encrypted, InClear };
    // The AUTH exchange under way: the next line is the client's response to a 334.
    enum class AuthStep { None, Plain, LoginUser, LoginPassword };

    void Process(std::string_view bytes, std::vector<Reply>& replies);
    // Goes on with the input held, then `more`.
    void Drain(std::string_view more, std::vector<Reply>& replies);
    // What the client is told of a verdict that is not an acceptance, logging it as the
    // operator needs it; `step` and `address` say what was asked.
    std::string Told(const Verdict& verdict, const char* step, const std::string& address) const;
    // The reply to a recipient the backend refused for good, or 421 once that was too often.
    Reply RefusedRecipient(const Verdict& verdict, const std::string& address);
    std::size_t CommandBytes(std::string_view bytes, std::vector<Reply>& replies);
    std::size_t MessageBytes(std::string_view bytes, std::vector<Reply>& replies);
    void KeepMessageLine(std::string_view piece);
    static void Add(std::vector<Reply>& replies, std::optional<Reply> reply);
    std::optional<Reply> Command(std::string_view line, bool crlf);
    void EndOfData(std::vector<Reply>& replies);
    Reply Hello(const std::string& verb, const std::string& argument);
    std::optional<Reply> RefusedAddress(const std::string& address, const char* badSyntax) const;
    std::optional<Reply> Mail(const std::string& argument);
    bool LoginOffered() const {
        return login_ == LoginRule::InClear || (login_ == LoginRule::Encrypted && Encrypted());
    }
    std::optional<Reply> Auth(const std::string& argument);
    std::optional<Reply> AuthResponse(std::string_view line);
    // The check of a user and password, or the reply that refuses them unchecked.
    std::optional<Reply> CheckLogin(std::string user, std::string password);
    Reply LoggedIn(const Verdict& verdict, const std::string& user);
    std::optional<Reply> Rcpt(const std::string& argument);
    std::string pendingOriginal_; // the ORCPT of the RCPT whose check is pending
    Reply Data(const std::string& argument, bool crlf);
    Reply StartTls(const std::string& argument);
    void ResetTransaction();

    std::string hostName_;
    Limits limits_;
    Backend& backend_;
    Protocol protocol_;
    std::string client_;
    std::string id_;
    std::size_t refusedRecipients_ = 0; // in the whole session
    std::size_t unsentReplies_ = 0;     // octets of replies given since RepliesSent()

    State state_ = State::Connected;
    Tls tls_ = Tls::None;
    LoginRule login_ = LoginRule::NotNeeded;
    AuthStep authStep_ = AuthStep::None;
    std::string authUser_; // AUTH LOGIN: the user name given, while the password is awaited
    std::string user_;     // authenticated as
    bool closed_ = false;
    const char* ending_ = "";
    std::optional<BackendCall> call_;
    // Input received while a backend question was pending, or held for unsent replies.
    std::string unread_;

    std::string pending_;     // bytes of a line whose end has not arrived yet
    bool discarding_ = false; // the pending line outgrew its limit: drop it up to its end

    Envelope envelope_;
    std::string helo_, heloProtocol_; // kept for every transaction of the session
    bool utf8_ = false;               // MAIL said SMTPUTF8: addresses may hold UTF-8
    std::string message_;
    bool messageTooBig_ = false;
    bool messageBareLineFeed_ = false;
    bool lineCut_ = false;      // the pending message line was dropped (too big): not "."
    bool lineEndsInCr_ = false; // the last byte of the pending message line is CR
};

} // namespace server::smtp
