// The SMTP and LMTP state machine: commands checked against the session's state and limits,
// recipients and messages handed to the backend, and the replies in order.

#include "server/smtp/SmtpSession.h"

#include "server/login/SaslPlain.h"

#include "server/smtp/SmtpSyntax.h"

#include "server/log/LogId.h"
#include "server/log/ServerLog.h"

#include "platform/core/Base64.h"
#include "platform/core/Text.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace server::smtp {

namespace {

Reply Say(int code, std::string text) {
    return {code, {std::move(text)}};
}

int CodeFor(Verdict::Kind kind, int accepted, int permanent) {
    switch (kind) {
    case Verdict::Kind::Accepted:
        return accepted;
    case Verdict::Kind::Permanent:
        return permanent;
    case Verdict::Kind::Transient:
        break;
    }
    return 451;
}

// Octets of the reply on the wire.
std::size_t WireSize(const Reply& reply) {
    std::size_t size = 0;
    for (const auto& line : reply.lines)
        size += line.size() + 6;
    return std::max<std::size_t>(size, 5);
}

} // namespace

Session::Session(std::string hostName, Limits limits, Backend& backend, Protocol protocol,
                 std::string client)
    : hostName_(std::move(hostName)), limits_(limits), backend_(backend), protocol_(protocol),
      client_(std::move(client)), id_(log::NewId()) {
}

Reply Session::Greeting() const {
    return Say(220,
               hostName_ + (protocol_ == Protocol::Lmtp ? " LMTP" : " ESMTP") + " exhost ready");
}

Reply Session::ClosingReply() const {
    return Say(421, hostName_ + " service shutting down, closing the connection");
}

// Each step fails alone: whatever the backend throws answers this call, and the session and
// every other one go on.
std::vector<Verdict> BackendCall::Run(Backend& backend) const {
    try {
        switch (kind) {
        case Kind::CheckRecipient:
            return {backend.CheckRecipient(address)};
        case Kind::Deliver:
            return {backend.Deliver(*envelope, *message)};
        case Kind::Authenticate:
            return {backend.Authenticate(login)};
        case Kind::CheckSender:
            return {backend.CheckSender(address)};
        case Kind::DeliverEach:
            break;
        }
        return backend.DeliverEach(*envelope, *message);
    } catch (...) {
        return {Verdict::Fail(WhatWasThrown())};
    }
}

std::optional<Verdict> BackendCall::Known(Backend& backend) const {
    try {
        return backend.KnownRecipient(address);
    } catch (...) {
        return Verdict::Fail(WhatWasThrown());
    }
}

std::vector<Reply> Session::Feed(std::string_view bytes) {
    auto replies = Receive(bytes);
    for (;;) {
        // Feed's caller takes every reply at once.
        RepliesSent();
        std::vector<Reply> more;
        if (call_)
            more = Resume(call_->Run(backend_));
        else if (HoldsInput())
            more = Receive({});
        else
            break;
        replies.insert(replies.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
    }
    RepliesSent();
    return replies;
}

std::vector<Reply> Session::Receive(std::string_view bytes) {
    std::vector<Reply> replies;
    if (StartingTls())
        return replies;
    if (call_)
        unread_.append(bytes);
    else
        Drain(bytes, replies);
    return replies;
}

void Session::Drain(std::string_view more, std::vector<Reply>& replies) {
    if (unread_.empty())
        return Process(more, replies);
    unread_.append(more);
    const auto held = std::move(unread_);
    unread_.clear();
    Process(held, replies);
}

std::string Session::Told(const Verdict& verdict, const char* step,
                          const std::string& address) const {
    if (verdict.kind == Verdict::Kind::Transient &&
        (!verdict.detail.empty() || verdict.text.empty())) {
        // The client learns only that something failed and the id; the log has what.
        const auto id = log::NewId();
        log::Event event(log::Severity::Error, "failure");
        event.Field("session", id_).Field("client", client_).Field("id", id).Field("step", step);
        if (!address.empty())
            event.Field("address", address);
        event.Field("detail", !verdict.detail.empty() ? verdict.detail : verdict.text);
        return (verdict.text.empty() ? std::string("4.3.0 Internal error") : verdict.text) +
               ", id " + id;
    }
    if (verdict.kind == Verdict::Kind::Permanent) {
        log::Event event(log::Severity::Info, "refused");
        event.Field("session", id_).Field("client", client_).Field("step", step);
        if (!address.empty())
            event.Field("address", address);
        event.Field("reason", !verdict.detail.empty() ? verdict.detail : verdict.text);
    }
    return verdict.text;
}

Reply Session::RefusedRecipient(const Verdict& verdict, const std::string& address) {
    auto text = Told(verdict, "rcpt", address);
    ++refusedRecipients_;
    if (limits_.maxRefusedRecipients == 0 || refusedRecipients_ < limits_.maxRefusedRecipients)
        return Say(550, std::move(text));
    log::Event(log::Severity::Warning, "too-many-refused")
        .Field("session", id_)
        .Field("client", client_)
        .Field("refused", refusedRecipients_);
    closed_ = true;
    ending_ = "too many refused recipients";
    return Say(421, "4.7.0 " + hostName_ + " too many refused recipients, closing the connection");
}

std::vector<Reply> Session::Resume(const Verdict& verdict) {
    return Resume(std::vector<Verdict>{verdict});
}

std::vector<Reply> Session::Resume(const std::vector<Verdict>& verdicts) {
    std::vector<Reply> replies;
    if (!call_)
        return replies;
    const auto call = std::move(*call_);
    call_.reset();
    const auto none = Verdict::Fail("the backend gave no verdict");
    const auto verdict = verdicts.empty() ? none : verdicts.front();
    if (call.kind == BackendCall::Kind::DeliverEach) {
        const auto& recipients = envelope_.recipients;
        for (std::size_t i = 0; i < recipients.size(); ++i) {
            const auto& own = verdicts.size() == 1  ? verdict
                              : i < verdicts.size() ? verdicts[i]
                                                    : none;
            const int code = CodeFor(own.kind, 250, 554);
            const auto text = code == 250 ? own.text : Told(own, "data", recipients[i]);
            replies.push_back(
                Say(code, "<" + recipients[i] + "> " + (!text.empty() ? text : "Message stored")));
        }
        ResetTransaction();
    } else if (call.kind == BackendCall::Kind::Authenticate) {
        replies.push_back(LoggedIn(verdict, call.address));
    } else if (call.kind == BackendCall::Kind::CheckSender) {
        if (verdict.kind == Verdict::Kind::Accepted) {
            state_ = State::Mail;
            replies.push_back(Say(250, "Sender <" + call.address + "> OK"));
        } else if (verdict.kind == Verdict::Kind::Permanent) {
            Told(verdict, "mail", call.address);
            ResetTransaction();
            replies.push_back(Say(553, "5.7.1 Sender address not owned by the authenticated user"));
        } else {
            replies.push_back(Say(451, Told(verdict, "mail", call.address)));
            ResetTransaction();
        }
    } else if (call.kind == BackendCall::Kind::CheckRecipient) {
        const int code = CodeFor(verdict.kind, 250, 550);
        if (code == 250) {
            envelope_.recipients.push_back(call.address);
            envelope_.originalRecipients.push_back(std::move(pendingOriginal_));
            replies.push_back(Say(250, "Recipient <" + call.address + "> OK"));
        } else if (code == 550) {
            replies.push_back(RefusedRecipient(verdict, call.address));
        } else {
            replies.push_back(Say(code, Told(verdict, "rcpt", call.address)));
        }
    } else {
        const int code = CodeFor(verdict.kind, 250, 554);
        const auto text = code == 250 ? verdict.text : Told(verdict, "data", {});
        replies.push_back(Say(code, !text.empty() ? text : "Message stored"));
        ResetTransaction();
    }
    Drain({}, replies);
    return replies;
}

void Session::Process(std::string_view bytes, std::vector<Reply>& replies) {
    std::size_t counted = 0;
    const auto count = [&] {
        for (; counted < replies.size(); ++counted)
            unsentReplies_ += WireSize(replies[counted]);
    };
    while (!bytes.empty() && !closed_ && !StartingTls()) {
        count();
        if (call_ || (unsentReplies_ > 0 && unsentReplies_ >= limits_.maxUnsentReplies)) {
            unread_.append(bytes);
            return;
        }
        bytes.remove_prefix(state_ == State::Data ? MessageBytes(bytes, replies)
                                                  : CommandBytes(bytes, replies));
    }
    count();
    if (closed_ || StartingTls())
        unread_.clear();
}

void Session::Add(std::vector<Reply>& replies, std::optional<Reply> reply) {
    if (reply)
        replies.push_back(std::move(*reply));
}

std::size_t Session::CommandBytes(std::string_view bytes, std::vector<Reply>& replies) {
    const auto lineFeed = bytes.find('\n');
    if (!discarding_)
        pending_.append(bytes.substr(0, std::min(lineFeed, bytes.size())));
    if (lineFeed == std::string_view::npos) {
        // A line longer than the limit is not kept in memory while its end is awaited.
        if (!discarding_ && pending_.size() >= limits_.maxCommandLine) {
            discarding_ = true;
            pending_.clear();
        }
        return bytes.size();
    }
    std::string_view line = pending_;
    const bool crlf = !line.empty() && line.back() == '\r';
    if (crlf)
        line.remove_suffix(1);
    if (discarding_ || line.size() + 2 > limits_.maxCommandLine) {
        authStep_ = AuthStep::None; // a response cut short ends the exchange
        authUser_.clear();
        replies.push_back(Say(500, "Line too long (the limit is " +
                                       std::to_string(limits_.maxCommandLine) + " octets)"));
    } else {
        Add(replies, Command(line, crlf));
    }
    pending_.clear();
    discarding_ = false;
    return lineFeed + 1;
}

std::size_t Session::MessageBytes(std::string_view bytes, std::vector<Reply>& replies) {
    const auto lineFeed = bytes.find('\n');
    KeepMessageLine(bytes.substr(0, std::min(lineFeed, bytes.size())));
    if (lineFeed == std::string_view::npos)
        return bytes.size();
    if (!lineEndsInCr_) {
        // A bare LF ends nothing; the message that holds it will be refused.
        messageBareLineFeed_ = true;
        message_.clear();
        message_.shrink_to_fit();
        KeepMessageLine("\n");
        return lineFeed + 1;
    }
    std::string_view line = pending_;
    if (!lineCut_)
        line.remove_suffix(1); // the CR
    if (!lineCut_ && line == ".") {
        pending_.clear();
        lineEndsInCr_ = false;
        EndOfData(replies);
        return lineFeed + 1;
    }
    if (!lineCut_ && !messageTooBig_ && !messageBareLineFeed_) {
        // A leading dot was doubled by the client so that the line cannot end the message.
        if (!line.empty() && line.front() == '.')
            line.remove_prefix(1);
        if (message_.size() + line.size() + 2 > limits_.maxMessageBytes) {
            messageTooBig_ = true;
            message_.clear();
            message_.shrink_to_fit();
        } else {
            message_.append(line);
            message_.append("\r\n");
        }
    }
    pending_.clear();
    lineCut_ = false;
    lineEndsInCr_ = false;
    return lineFeed + 1;
}

// Adds bytes to the pending message line. Once the message cannot be stored, only enough of a
// line is kept to tell whether it is the "." that ends the message.
void Session::KeepMessageLine(std::string_view piece) {
    if (piece.empty())
        return;
    lineEndsInCr_ = piece.back() == '\r';
    if (lineCut_)
        return;
    pending_.append(piece);
    if (!messageTooBig_ && !messageBareLineFeed_ &&
        message_.size() + pending_.size() > limits_.maxMessageBytes + 2) {
        messageTooBig_ = true;
        message_.clear();
        message_.shrink_to_fit();
    }
    if ((messageTooBig_ || messageBareLineFeed_) && pending_.size() > 2) {
        lineCut_ = true;
        pending_.clear();
    }
}

std::optional<Reply> Session::Command(std::string_view line, bool crlf) {
    // The response to a 334 is no command, whatever it looks like.
    if (authStep_ != AuthStep::None)
        return AuthResponse(line);
    const auto [verb, argument] = SplitCommandLine(line);
    // LMTP has LHLO only; SMTP does not know it.
    if (verb == "LHLO" && protocol_ == Protocol::Lmtp)
        return Hello(verb, argument);
    if ((verb == "EHLO" || verb == "HELO") && protocol_ == Protocol::Smtp)
        return Hello(verb, argument);
    if (verb == "EHLO" || verb == "HELO")
        return Say(500, "5.5.1 This is an LMTP server: send LHLO");
    if (verb == "MAIL")
        return Mail(argument);
    if (verb == "RCPT")
        return Rcpt(argument);
    if (verb == "DATA")
        return Data(argument, crlf);
    if (verb == "RSET") {
        if (!argument.empty())
            return Say(501, "Syntax: RSET");
        ResetTransaction();
        return Say(250, "OK");
    }
    if (verb == "NOOP")
        return Say(250, "OK");
    if (verb == "QUIT") {
        if (!argument.empty())
            return Say(501, "Syntax: QUIT");
        closed_ = true;
        ending_ = "quit";
        return Say(221, hostName_ + " closing the connection");
    }
    if (verb == "STARTTLS" && tls_ != Tls::None)
        return StartTls(argument);
    if (verb == "AUTH" && login_ != LoginRule::NotNeeded)
        return Auth(argument);
    if (verb == "VRFY" || verb == "EXPN" || verb == "HELP" || verb == "TURN" || verb == "ETRN" ||
        verb == "BDAT" || verb == "STARTTLS" || verb == "AUTH")
        return Say(502, verb + " is not implemented");
    return Say(500, "Command not recognized");
}

Reply Session::Hello(const std::string& verb, const std::string& argument) {
    const std::string domain(platform::text::TrimBlanks(argument));
    if (domain.empty() || domain.find(' ') != std::string::npos)
        return Say(501, "Syntax: " + verb + " domain");
    ResetTransaction();
    state_ = State::Greeted;
    helo_ = domain;
    heloProtocol_ = verb == "LHLO" ? "LMTP" : verb == "EHLO" ? "ESMTP" : "SMTP";
    // RFC 3848's names for mail that came through TLS.
    if (Encrypted())
        heloProtocol_ += "S";
    if (verb == "HELO")
        return Say(250, hostName_);
    Reply reply{250,
                {hostName_ + " greets " + domain, "8BITMIME", "DSN", "PIPELINING",
                 "SIZE " + std::to_string(limits_.maxMessageBytes), "SMTPUTF8"}};
    if (tls_ == Tls::Offered)
        reply.lines.push_back("STARTTLS");
    if (LoginOffered() && user_.empty())
        reply.lines.push_back("AUTH PLAIN LOGIN");
    return reply;
}

Reply Session::StartTls(const std::string& argument) {
    if (!argument.empty())
        return Say(501, "5.5.4 Syntax: STARTTLS");
    if (Encrypted())
        return Say(503, "5.5.1 TLS is already active");
    if (state_ == State::Mail)
        return Say(503, "5.5.1 Finish the transaction first (RSET starts over)");
    tls_ = Tls::Starting;
    return Say(220, "2.0.0 Ready to start TLS");
}

void Session::TlsStarted() {
    tls_ = Tls::Active;
    ResetTransaction();
    state_ = State::Connected;
    helo_.clear();
    heloProtocol_.clear();
    utf8_ = false;
    pending_.clear();
    discarding_ = false;
    unread_.clear();
    // A login from before TLS is forgotten with everything else said in clear (RFC 3207).
    user_.clear();
}

std::optional<Reply> Session::Auth(const std::string& argument) {
    // AUTH is an extension: HELO knows none.
    if (state_ == State::Connected || !heloProtocol_.starts_with("ESMTP"))
        return Say(503, "5.5.1 Send EHLO first");
    if (!user_.empty())
        return Say(503, "5.5.1 Already authenticated");
    if (state_ == State::Mail)
        return Say(503, "5.5.1 AUTH is not allowed during a mail transaction");
    if (!LoginOffered())
        return Say(538, "5.7.11 Encryption required for requested authentication mechanism");
    const auto text = platform::text::TrimBlanks(argument);
    const auto space = text.find(' ');
    const auto mechanism = text.substr(0, space);
    const bool plain = platform::text::EqualsIgnoreCase(mechanism, "PLAIN");
    if (!plain && !platform::text::EqualsIgnoreCase(mechanism, "LOGIN"))
        return Say(504, "5.5.4 Unrecognized authentication type");
    authStep_ = plain ? AuthStep::Plain : AuthStep::LoginUser;
    if (space != std::string_view::npos)
        return AuthResponse(platform::text::TrimBlanks(text.substr(space + 1)));
    // PLAIN's challenge is empty; LOGIN asks for "Username:".
    return Say(334, plain ? "" : "VXNlcm5hbWU6");
}

// Neither the response nor what it decodes to is ever logged: it holds the password.
std::optional<Reply> Session::AuthResponse(std::string_view line) {
    const auto step = authStep_;
    authStep_ = AuthStep::None;
    if (line == "*") {
        authUser_.clear();
        return Say(501, "5.7.0 Authentication cancelled");
    }
    if (step == AuthStep::Plain) {
        auto response = login::DecodePlainResponse(line);
        using Fault = login::PlainResponse::Fault;
        if (response.fault == Fault::NotBase64)
            return Say(501, "5.5.2 The response is not base64");
        if (response.fault == Fault::NotThreeParts)
            return Say(501, "5.5.2 A PLAIN response is authzid NUL authcid NUL password");
        if (!response.authzid.empty() && response.authzid != response.authcid)
            return LoggedIn(Verdict::Refuse("", "acting as another user"), response.authcid);
        return CheckLogin(std::move(response.authcid), std::move(response.password));
    }
    const auto decoded =
        line == "=" ? std::optional<std::string>("") : platform::text::DecodeBase64(line);
    if (!decoded) {
        authUser_.clear();
        return Say(501, "5.5.2 The response is not base64");
    }
    if (step == AuthStep::LoginUser) {
        authUser_ = *decoded;
        authStep_ = AuthStep::LoginPassword;
        return Say(334, "UGFzc3dvcmQ6"); // "Password:"
    }
    return CheckLogin(std::exchange(authUser_, {}), *decoded);
}

std::optional<Reply> Session::CheckLogin(std::string user, std::string password) {
    // A try without a name or a password is refused unchecked: it tells a guesser nothing.
    if (user.empty() || password.empty())
        return LoggedIn(Verdict::Refuse("", "empty user name or password"), user);
    call_ = BackendCall{BackendCall::Kind::Authenticate, user, nullptr, nullptr,
                        Login{user, std::move(password), id_, client_}};
    return std::nullopt;
}

Reply Session::LoggedIn(const Verdict& verdict, const std::string& user) {
    if (verdict.kind == Verdict::Kind::Transient) {
        auto deferred = verdict;
        if (deferred.text.empty())
            deferred.text = "4.7.0 Temporary authentication failure";
        return Say(454, Told(deferred, "auth", user));
    }
    const bool ok = verdict.kind == Verdict::Kind::Accepted;
    log::Event event(ok ? log::Severity::Info : log::Severity::Warning,
                     ok ? "login-ok" : "login-failed");
    event.Field("session", id_).Field("client", client_).Field("user", user);
    if (!ok) {
        event.Field("reason", !verdict.detail.empty() ? verdict.detail : verdict.text);
        return Say(535, "5.7.8 Authentication credentials invalid");
    }
    user_ = user;
    return Say(235, "2.7.0 Authentication successful");
}

std::optional<Reply> Session::Mail(const std::string& argument) {
    if (state_ == State::Connected)
        return Say(503,
                   protocol_ == Protocol::Lmtp ? "Send LHLO first" : "Send EHLO or HELO first");
    if (state_ == State::Mail)
        return Say(503, "Sender already given (RSET starts over)");
    if (login_ != LoginRule::NotNeeded && user_.empty())
        return Say(530, "5.7.0 Authentication required");
    const auto path = ParsePathArgument(argument, "FROM", true);
    if (!path)
        return Say(501,
                   "Syntax: MAIL FROM:<address> [SIZE=octets] [BODY=7BIT|8BITMIME] [SMTPUTF8]");
    bool utf8 = false;
    for (const auto& [keyword, value] : path->parameters) {
        if (keyword == "SIZE") {
            std::size_t size = 0;
            const auto end = value.data() + value.size();
            const auto [stop, error] = std::from_chars(value.data(), end, size);
            if (value.empty() || stop != end || error == std::errc::invalid_argument)
                return Say(501, "SIZE needs a number of octets");
            if (error == std::errc::result_out_of_range || size > limits_.maxMessageBytes)
                return Say(552, "The message is larger than the limit of " +
                                    std::to_string(limits_.maxMessageBytes) + " octets");
        } else if (keyword == "SMTPUTF8") {
            if (!value.empty())
                return Say(501, "SMTPUTF8 takes no value");
            utf8 = true;
        } else if (keyword == "RET") {
            if (!IsValidRet(value))
                return Say(501, "5.5.4 RET must be FULL or HDRS");
        } else if (keyword == "ENVID") {
            if (!DecodeXtext(value) || value.empty())
                return Say(501, "5.5.4 ENVID must be xtext");
        } else if (keyword == "BODY") {
            if (!platform::text::EqualsIgnoreCase(value, "7BIT") &&
                !platform::text::EqualsIgnoreCase(value, "8BITMIME"))
                return Say(501, "BODY must be 7BIT or 8BITMIME");
        } else {
            return Say(555, "MAIL FROM parameter " + keyword + " is not supported");
        }
    }
    utf8_ = utf8;
    if (auto refused = RefusedAddress(path->address, "5.1.7")) {
        utf8_ = false;
        return *refused;
    }
    // A submitted message has an author who can receive its bounces.
    if (login_ != LoginRule::NotNeeded && path->address.empty()) {
        utf8_ = false;
        return Say(553, "5.7.1 Sender address not owned by the authenticated user");
    }
    envelope_.sender = path->address;
    envelope_.helo = helo_;
    // RFC 3848: ESMTPA, ESMTPSA for mail from a client that logged in.
    envelope_.protocol = heloProtocol_ + (user_.empty() ? "" : "A");
    envelope_.session = id_;
    envelope_.client = client_;
    if (login_ != LoginRule::NotNeeded) {
        call_ = BackendCall{BackendCall::Kind::CheckSender, path->address, nullptr, nullptr};
        return std::nullopt;
    }
    state_ = State::Mail;
    return Say(250, "Sender <" + path->address + "> OK");
}

std::optional<Reply> Session::Rcpt(const std::string& argument) {
    if (state_ != State::Mail)
        return Say(503, "Send MAIL first");
    const auto path = ParsePathArgument(argument, "TO", false);
    if (!path)
        return Say(501, "Syntax: RCPT TO:<address>");
    // DSN: an MTA in front passes the original recipient; NOTIFY is taken and left to it.
    std::string original;
    for (const auto& [keyword, value] : path->parameters) {
        if (keyword == "ORCPT") {
            const auto decoded = OriginalRecipient(value);
            if (!decoded)
                return Say(501, "5.5.4 ORCPT must be addr-type;xtext");
            original = *decoded;
        } else if (keyword == "NOTIFY") {
            if (!IsValidNotify(value))
                return Say(501, "5.5.4 NOTIFY must be NEVER or SUCCESS,FAILURE,DELAY");
        } else {
            return Say(555, "RCPT TO parameter " + keyword + " is not supported");
        }
    }
    if (auto refused = RefusedAddress(path->address, "5.1.3"))
        return refused;
    // A repeated address is asked about and kept like any other: LMTP owes every accepted RCPT
    // a reply after the message, and the backend gives a mailbox named twice one copy.
    if (envelope_.recipients.size() >= limits_.maxRecipients)
        return Say(452, "Too many recipients (the limit is " +
                            std::to_string(limits_.maxRecipients) + ")");
    pendingOriginal_ = std::move(original);
    call_ = BackendCall{BackendCall::Kind::CheckRecipient, path->address, nullptr, nullptr};
    return std::nullopt;
}

// An address beyond ASCII needs SMTPUTF8 in MAIL (RFC 6531: 553 5.6.7), and must then be
// well-formed UTF-8 (else a bad-syntax code: 5.1.7 for the sender, 5.1.3 for a recipient).
std::optional<Reply> Session::RefusedAddress(const std::string& address,
                                             const char* badSyntax) const {
    if (IsAscii(address))
        return std::nullopt;
    if (!utf8_)
        return Say(553, "5.6.7 <" + address +
                            "> is not ASCII: such addresses need SMTPUTF8 in MAIL FROM");
    if (!platform::text::IsUtf8(address))
        return Say(553, std::string(badSyntax) + " The address is not valid UTF-8");
    return std::nullopt;
}

Reply Session::Data(const std::string& argument, bool crlf) {
    if (!argument.empty())
        return Say(501, "Syntax: DATA");
    if (state_ != State::Mail)
        return Say(503, "Send MAIL first");
    // LMTP asks for 503 here: there is nobody to give a reply of their own to.
    if (envelope_.recipients.empty())
        return Say(protocol_ == Protocol::Lmtp ? 503 : 554, "No valid recipients");
    state_ = State::Data;
    message_.clear();
    messageTooBig_ = false;
    // A DATA line ended by a bare LF cannot serve as the CRLF before a closing ".".
    messageBareLineFeed_ = !crlf;
    return Say(354, "Send the message; end it with a line holding only \".\"");
}

void Session::EndOfData(std::vector<Reply>& replies) {
    std::optional<Reply> reply;
    if (messageTooBig_)
        reply = Say(552, "The message is larger than the limit of " +
                             std::to_string(limits_.maxMessageBytes) + " octets; not stored");
    else if (messageBareLineFeed_)
        reply = Say(554, "5.5.2 Bare LF in the message: end every line with CRLF; not stored");
    if (reply) {
        log::Event(log::Severity::Info, "refused")
            .Field("session", id_)
            .Field("client", client_)
            .Field("step", "data")
            .Field("reason", messageTooBig_ ? "larger than the size limit" : "bare LF");
        // LMTP owes every accepted recipient a reply of its own, refusals included.
        const auto count = protocol_ == Protocol::Lmtp ? envelope_.recipients.size() : 1;
        replies.insert(replies.end(), count, *reply);
        ResetTransaction();
        return;
    }
    const auto kind =
        protocol_ == Protocol::Lmtp ? BackendCall::Kind::DeliverEach : BackendCall::Kind::Deliver;
    call_ = BackendCall{kind, {}, &envelope_, &message_};
}

void Session::ResetTransaction() {
    envelope_ = {};
    utf8_ = false;
    message_.clear();
    message_.shrink_to_fit();
    messageTooBig_ = false;
    messageBareLineFeed_ = false;
    lineCut_ = false;
    lineEndsInCr_ = false;
    if (state_ == State::Mail || state_ == State::Data)
        state_ = State::Greeted;
}

} // namespace server::smtp
