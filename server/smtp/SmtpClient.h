#pragma once

// A small blocking SMTP client, for the tests and benchmarks of the SMTP front: one command at a
// time, or raw bytes when a test wants to send something a well-behaved client would not.

#include "server/smtp/SmtpReply.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/streambuf.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server::smtp {

class Client {
public:
    // Connects and reads the greeting. Throws boost::system::system_error on failure.
    Client(const std::string& address, unsigned short port);

    const Reply& Greeting() const { return greeting_; }

    // Sends the line with CRLF and reads its reply.
    Reply Command(const std::string& line);
    // STARTTLS, and on its 220 the handshake; from then on everything goes through TLS. The
    // server's certificate is not checked: what is measured is the encryption, not trust.
    // Returns the reply to STARTTLS; throws when the handshake fails.
    Reply StartTls();
    void SendRaw(std::string_view bytes);
    // Reads one reply (all its lines). Throws when the server closed the connection first.
    Reply ReadReply();
    // After a 354: sends the message with its leading dots doubled and bare LFs made CRLF,
    // then the ending line, and reads the reply.
    Reply SendMessageBody(const std::string& message);
    // Whether the server has closed the connection (reads and drops what is left).
    bool ServerClosed();

    // MAIL, one RCPT per recipient, DATA and the message; the first reply that is not a
    // success is returned, else the reply to the message.
    Reply Deliver(const std::string& sender, const std::vector<std::string>& recipients,
                  const std::string& message);

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    std::optional<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> tls_;
    boost::asio::streambuf incoming_;
    Reply greeting_;
};

// The message as it travels inside DATA: CRLF line ends, leading dots doubled, the end line.
std::string DotStuffed(const std::string& message);

} // namespace server::smtp
