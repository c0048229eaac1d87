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
// input received meanwhile.

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
};

enum class Protocol { Smtp, Lmtp };

// A question for the backend the session is waiting on.
struct BackendCall {
    enum class Kind { CheckRecipient, Deliver, DeliverEach };
    Kind kind = Kind::CheckRecipient;
    std::string address;                // CheckRecipient
    const Envelope* envelope = nullptr; // Deliver: the session's, valid until Resume()
    const std::string* message = nullptr;

    // One verdict, or one per recipient for DeliverEach.
    std::vector<Verdict> Run(Backend& backend) const;
};

class Session {
public:
    // `hostName` is the name the server greets with; the backend (used by Feed() only) must
    // outlive the session.
    Session(std::string hostName, Limits limits, Backend& backend,
            Protocol protocol = Protocol::Smtp);

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

    // QUIT was answered; later input is ignored.
    bool Closed() const { return closed_; }
    // Between the 354 reply and the line that ends the message.
    bool ReceivingMessage() const { return state_ == State::Data; }

private:
    enum class State { Connected, Greeted, Mail, Data };

    void Process(std::string_view bytes, std::vector<Reply>& replies);
    std::size_t CommandBytes(std::string_view bytes, std::vector<Reply>& replies);
    std::size_t MessageBytes(std::string_view bytes, std::vector<Reply>& replies);
    void KeepMessageLine(std::string_view piece);
    static void Add(std::vector<Reply>& replies, std::optional<Reply> reply);
    std::optional<Reply> Command(std::string_view line, bool crlf);
    void EndOfData(std::vector<Reply>& replies);
    Reply Hello(const std::string& verb, const std::string& argument);
    std::optional<Reply> RefusedAddress(const std::string& address, const char* badSyntax) const;
    Reply Mail(const std::string& argument);
    std::optional<Reply> Rcpt(const std::string& argument);
    std::string pendingOriginal_; // the ORCPT of the RCPT whose check is pending
    Reply Data(const std::string& argument, bool crlf);
    void ResetTransaction();

    std::string hostName_;
    Limits limits_;
    Backend& backend_;
    Protocol protocol_;

    State state_ = State::Connected;
    bool closed_ = false;
    std::optional<BackendCall> call_;
    std::string unread_; // input received while a backend question was pending

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
