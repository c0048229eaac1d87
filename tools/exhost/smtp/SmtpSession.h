#pragma once

// One SMTP session as a state machine: bytes from the client go in, the replies they call for
// come out, in order. No sockets: the network layer feeds it whatever arrives (several
// pipelined commands at once, or a command split over several reads) and writes the replies.
//
// Lines end with CRLF; a bare LF is taken as a line end too, because local scripts often send
// one. A CR that is not followed by LF stays part of its line.

#include "SmtpBackend.h"
#include "SmtpReply.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace exhost::smtp {

struct Limits {
    std::size_t maxMessageBytes = 10 * 1024 * 1024; // the message as stored, CRLF line ends
    std::size_t maxCommandLine = 512;               // octets, CRLF included
    std::size_t maxTextLine = 1000;                 // a line of the message, CRLF included
    std::size_t maxRecipients = 100;
};

class Session {
public:
    // `hostName` is the name the server greets with; the backend must outlive the session.
    Session(std::string hostName, Limits limits, Backend& backend);

    Reply Greeting() const;
    // The reply that ends a session the server closes on its own (shutting down).
    Reply ClosingReply() const;

    std::vector<Reply> Feed(std::string_view bytes);

    // QUIT was answered; later input is ignored.
    bool Closed() const { return closed_; }
    // Between the 354 reply and the line that ends the message.
    bool ReceivingMessage() const { return state_ == State::Data; }

private:
    enum class State { Connected, Greeted, Mail, Data };

    void Line(std::string_view line, bool overlong, std::vector<Reply>& replies);
    Reply Command(std::string_view line);
    void DataLine(std::string_view line, bool overlong);
    Reply EndOfData();
    Reply Ehlo(const std::string& argument, bool extended);
    Reply Mail(const std::string& argument);
    Reply Rcpt(const std::string& argument);
    Reply Data(const std::string& argument);
    void ResetTransaction();
    std::size_t LineLimit() const;

    std::string hostName_;
    Limits limits_;
    Backend& backend_;

    State state_ = State::Connected;
    bool closed_ = false;
    std::string pending_;     // bytes of a line whose end has not arrived yet
    bool discarding_ = false; // the pending line outgrew its limit: drop it up to its end

    Envelope envelope_;
    std::string message_;
    bool messageTooBig_ = false;
    bool messageLineTooLong_ = false;
};

} // namespace exhost::smtp
