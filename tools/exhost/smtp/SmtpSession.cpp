#include "SmtpSession.h"

#include "SmtpSyntax.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <charconv>

namespace exhost::smtp {

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

} // namespace

Session::Session(std::string hostName, Limits limits, Backend& backend)
    : hostName_(std::move(hostName)), limits_(limits), backend_(backend) {
}

Reply Session::Greeting() const {
    return Say(220, hostName_ + " ESMTP exhost ready");
}

Reply Session::ClosingReply() const {
    return Say(421, hostName_ + " service shutting down, closing the connection");
}

std::size_t Session::LineLimit() const {
    return state_ == State::Data ? limits_.maxTextLine : limits_.maxCommandLine;
}

std::vector<Reply> Session::Feed(std::string_view bytes) {
    std::vector<Reply> replies;
    while (!bytes.empty() && !closed_) {
        const auto lineFeed = bytes.find('\n');
        const auto piece = bytes.substr(0, std::min(lineFeed, bytes.size()));
        if (!discarding_)
            pending_.append(piece);
        if (lineFeed == std::string_view::npos) {
            // A line longer than the limit is not kept in memory while its end is awaited.
            if (!discarding_ && pending_.size() >= LineLimit()) {
                discarding_ = true;
                pending_.clear();
            }
            break;
        }
        bytes.remove_prefix(lineFeed + 1);
        std::string_view line = pending_;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool overlong = discarding_ || line.size() + 2 > LineLimit();
        Line(line, overlong, replies);
        pending_.clear();
        discarding_ = false;
    }
    return replies;
}

void Session::Line(std::string_view line, bool overlong, std::vector<Reply>& replies) {
    if (state_ == State::Data) {
        if (line == ".")
            replies.push_back(EndOfData());
        else
            DataLine(line, overlong);
        return;
    }
    if (overlong) {
        replies.push_back(Say(500, "Line too long (the limit is " +
                                       std::to_string(limits_.maxCommandLine) + " octets)"));
        return;
    }
    replies.push_back(Command(line));
}

Reply Session::Command(std::string_view line) {
    const auto [verb, argument] = SplitCommandLine(line);
    if (verb == "EHLO" || verb == "HELO")
        return Ehlo(argument, verb == "EHLO");
    if (verb == "MAIL")
        return Mail(argument);
    if (verb == "RCPT")
        return Rcpt(argument);
    if (verb == "DATA")
        return Data(argument);
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
        return Say(221, hostName_ + " closing the connection");
    }
    if (verb == "VRFY" || verb == "EXPN" || verb == "HELP" || verb == "TURN" || verb == "ETRN" ||
        verb == "BDAT" || verb == "STARTTLS" || verb == "AUTH")
        return Say(502, verb + " is not implemented");
    return Say(500, "Command not recognized");
}

Reply Session::Ehlo(const std::string& argument, bool extended) {
    const std::string domain(platform::text::TrimBlanks(argument));
    if (domain.empty() || domain.find(' ') != std::string::npos)
        return Say(501, std::string("Syntax: ") + (extended ? "EHLO" : "HELO") + " domain");
    ResetTransaction();
    state_ = State::Greeted;
    if (!extended)
        return Say(250, hostName_);
    return {250,
            {hostName_ + " greets " + domain, "8BITMIME", "PIPELINING",
             "SIZE " + std::to_string(limits_.maxMessageBytes)}};
}

Reply Session::Mail(const std::string& argument) {
    if (state_ == State::Connected)
        return Say(503, "Send EHLO or HELO first");
    if (state_ == State::Mail)
        return Say(503, "Sender already given (RSET starts over)");
    const auto path = ParsePathArgument(argument, "FROM", true);
    if (!path)
        return Say(501, "Syntax: MAIL FROM:<address> [SIZE=octets] [BODY=7BIT|8BITMIME]");
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
        } else if (keyword == "BODY") {
            if (!platform::text::EqualsIgnoreCase(value, "7BIT") &&
                !platform::text::EqualsIgnoreCase(value, "8BITMIME"))
                return Say(501, "BODY must be 7BIT or 8BITMIME");
        } else {
            return Say(555, "MAIL FROM parameter " + keyword + " is not supported");
        }
    }
    envelope_.sender = path->address;
    state_ = State::Mail;
    return Say(250, "Sender <" + path->address + "> OK");
}

Reply Session::Rcpt(const std::string& argument) {
    if (state_ != State::Mail)
        return Say(503, "Send MAIL first");
    const auto path = ParsePathArgument(argument, "TO", false);
    if (!path)
        return Say(501, "Syntax: RCPT TO:<address>");
    if (!path->parameters.empty())
        return Say(555,
                   "RCPT TO parameter " + path->parameters.front().first + " is not supported");
    auto& recipients = envelope_.recipients;
    const auto known = std::find_if(recipients.begin(), recipients.end(), [&](const auto& r) {
        return platform::text::EqualsIgnoreCase(r, path->address);
    });
    if (known != recipients.end())
        return Say(250, "Recipient <" + path->address + "> OK (already given)");
    if (recipients.size() >= limits_.maxRecipients)
        return Say(452, "Too many recipients (the limit is " +
                            std::to_string(limits_.maxRecipients) + ")");
    const auto verdict = backend_.CheckRecipient(path->address);
    const int code = CodeFor(verdict.kind, 250, 550);
    if (code != 250)
        return Say(code, verdict.text);
    recipients.push_back(path->address);
    return Say(250, "Recipient <" + path->address + "> OK");
}

Reply Session::Data(const std::string& argument) {
    if (!argument.empty())
        return Say(501, "Syntax: DATA");
    if (state_ != State::Mail)
        return Say(503, "Send MAIL first");
    if (envelope_.recipients.empty())
        return Say(554, "No valid recipients");
    state_ = State::Data;
    message_.clear();
    messageTooBig_ = false;
    messageLineTooLong_ = false;
    return Say(354, "Send the message; end it with a line holding only \".\"");
}

void Session::DataLine(std::string_view line, bool overlong) {
    if (overlong) {
        messageLineTooLong_ = true;
        return;
    }
    if (messageTooBig_ || messageLineTooLong_)
        return;
    // A leading dot was doubled by the client so that the line cannot end the message.
    if (!line.empty() && line.front() == '.')
        line.remove_prefix(1);
    if (message_.size() + line.size() + 2 > limits_.maxMessageBytes) {
        messageTooBig_ = true;
        message_.clear();
        message_.shrink_to_fit();
        return;
    }
    message_.append(line);
    message_.append("\r\n");
}

Reply Session::EndOfData() {
    Reply reply;
    if (messageTooBig_) {
        reply = Say(552, "The message is larger than the limit of " +
                             std::to_string(limits_.maxMessageBytes) + " octets; not stored");
    } else if (messageLineTooLong_) {
        reply = Say(500, "The message has a line longer than " +
                             std::to_string(limits_.maxTextLine) + " octets; not stored");
    } else {
        const auto verdict = backend_.Deliver(envelope_, message_);
        const int code = CodeFor(verdict.kind, 250, 554);
        reply = Say(code, !verdict.text.empty() ? verdict.text : "Message stored");
    }
    ResetTransaction();
    return reply;
}

void Session::ResetTransaction() {
    envelope_ = {};
    message_.clear();
    message_.shrink_to_fit();
    messageTooBig_ = false;
    messageLineTooLong_ = false;
    if (state_ == State::Mail || state_ == State::Data)
        state_ = State::Greeted;
}

} // namespace exhost::smtp
