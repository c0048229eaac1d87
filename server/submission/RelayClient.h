#pragma once

// The SMTP client that passes submitted mail for other domains to the relay host (machine.conf's
// relay_host): blocking, for a backend's own thread, every step within a time limit so that a
// relay that hangs costs the session a 451, not the thread.

#include "server/smtp/SmtpReply.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>

#include <chrono>
#include <stdexcept>
#include <string>

namespace server::submission {

// The relay could not be reached, or stopped answering: nothing it said counts.
class RelayUnreachable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RelayClient {
public:
    // Connects to "host:port" ("[v6]:port" too) and reads the greeting, which must be 220.
    // Each step (the name lookup, connecting, every command and its reply) may take `timeout`.
    RelayClient(const std::string& hostPort, std::chrono::milliseconds timeout);

    // Sends the line with CRLF and reads its reply.
    smtp::Reply Command(const std::string& line);
    // After a 354: the message (CRLF line ends) dot-stuffed with its end line, and the reply.
    smtp::Reply Message(const std::string& message);

private:
    template <class Operation> void Await(Operation operation, const char* step);
    // Writes the bytes and reads the reply to them.
    smtp::Reply Send(const std::string& wire);
    smtp::Reply ReadReply();

    std::chrono::milliseconds timeout_;
    std::string host_;
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::streambuf incoming_;
};

} // namespace server::submission
