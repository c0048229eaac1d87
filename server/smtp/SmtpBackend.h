#pragma once

// What the protocol needs of the mail server behind it: accepting recipients and storing an
// accepted message, for all recipients at once (SMTP) or for each on its own (LMTP). The
// protocol turns the verdicts into reply codes. A backend may throw: the session takes anything
// thrown for a failure of that step alone (Verdict::Fail).

#include <optional>
#include <string>
#include <vector>

namespace server::smtp {

struct Verdict {
    enum class Kind {
        Accepted,
        Permanent, // refused for good: the client must not retry as it is
        Transient  // refused for now: the client may retry later
    };
    Kind kind = Kind::Accepted;
    std::string text; // said to the client; for Accepted, may be empty
    // For the operator's log only, never for the client: why a recipient was refused, or what
    // failed. A transient verdict with a detail is a failure: the session logs it under a new
    // id and tells the client that id, with `text` or else a generic text.
    std::string detail{};

    static Verdict Accept(std::string text = {}) { return {Kind::Accepted, std::move(text)}; }
    static Verdict Refuse(std::string text, std::string detail = {}) {
        return {Kind::Permanent, std::move(text), std::move(detail)};
    }
    static Verdict Defer(std::string text, std::string detail = {}) {
        return {Kind::Transient, std::move(text), std::move(detail)};
    }
    // Something failed (the directory, the store, anything thrown): 451 4.3.0 with an id.
    static Verdict Fail(std::string detail) { return {Kind::Transient, {}, std::move(detail)}; }
};

struct Envelope {
    std::string sender; // the reverse path without its angle brackets; empty for "<>"
    std::vector<std::string> recipients;
    // For each recipient, its ORCPT (RFC 3461) when the client gave one of type rfc822, else "".
    std::vector<std::string> originalRecipients{};
    // For the trace field: the name the client greeted with, and the protocol as the Received
    // field names it (SMTP after HELO, ESMTP after EHLO, LMTP).
    std::string helo{};
    std::string protocol{};
    // The session's id and the client's name (IP address or "local"), for the backend's log.
    std::string session{};
    std::string client{};
};

// A password to check (SMTP AUTH), with the session it came in, for the throttle and the log.
struct Login {
    std::string user;
    std::string password;
    std::string session{};
    std::string client{};
};

class Backend {
public:
    virtual ~Backend() = default;
    // Whether mail for this address can be delivered here.
    virtual Verdict CheckRecipient(const std::string& address) = 0;
    // CheckRecipient's verdict when the backend has it at hand without waiting for anything (an
    // address it resolved a moment ago): the front then answers at once, on its own thread.
    virtual std::optional<Verdict> KnownRecipient(const std::string& /*address*/) {
        return std::nullopt;
    }
    // Stores the message (CRLF line ends, dot-stuffing removed) for every recipient of the
    // envelope, all or none. Accepted only once it is stored for every one of them.
    virtual Verdict Deliver(const Envelope& envelope, const std::string& message) = 0;
    // Stores the message for each recipient on its own: one verdict per recipient of the
    // envelope, in their order, so that one mailbox's failure leaves the others' copies. A
    // backend that can only store for all at once gives every recipient Deliver's verdict.
    virtual std::vector<Verdict> DeliverEach(const Envelope& envelope, const std::string& message) {
        return std::vector<Verdict>(envelope.recipients.size(), Deliver(envelope, message));
    }
    // Submission (Session::RequireLogin). Accepted when the password is the user's: later
    // senders are checked as theirs. A backend without logins refuses every one.
    virtual Verdict Authenticate(const Login& /*login*/) {
        return Verdict::Refuse("5.7.8 Authentication credentials invalid", "no logins here");
    }
    // Whether the user authenticated may send as this address; asked at every MAIL, which
    // starts a new transaction.
    virtual Verdict CheckSender(const std::string& /*address*/) { return Verdict::Accept(); }
    // From another thread, when the server stops or the connection closes: a call waiting for
    // something that may take long (a login's turn) gives up, and later ones do not wait.
    virtual void Interrupt() {}
};

// Inside a catch block: what was thrown, for the log (a platform::Error with its number).
std::string WhatWasThrown();

} // namespace server::smtp
