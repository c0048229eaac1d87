// The blocking SMTP client of the front's tests and benchmarks, over Boost.Asio: commands,
// replies, dot-stuffed messages and raw bytes.

#include "server/smtp/SmtpClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <istream>
#include <stdexcept>

namespace server::smtp {

namespace asio = boost::asio;
using asio::ip::tcp;

Client::Client(const std::string& address, unsigned short port) : socket_(io_) {
    socket_.connect(tcp::endpoint(asio::ip::make_address(address), port));
    socket_.set_option(tcp::no_delay(true));
    greeting_ = ReadReply();
}

Reply Client::Command(const std::string& line) {
    SendRaw(line + "\r\n");
    return ReadReply();
}

Reply Client::StartTls() {
    auto reply = Command("STARTTLS");
    if (reply.code != 220)
        return reply;
    // One context for every client: making one costs more than the handshake itself.
    static asio::ssl::context context(asio::ssl::context::tls_client);
    tls_.emplace(socket_, context);
    tls_->handshake(asio::ssl::stream_base::client);
    incoming_.consume(incoming_.size()); // nothing sent in clear counts after the handshake
    return reply;
}

void Client::SendRaw(std::string_view bytes) {
    if (tls_)
        asio::write(*tls_, asio::buffer(bytes.data(), bytes.size()));
    else
        asio::write(socket_, asio::buffer(bytes.data(), bytes.size()));
}

Reply Client::ReadReply() {
    Reply reply;
    for (;;) {
        if (tls_)
            asio::read_until(*tls_, incoming_, "\r\n");
        else
            asio::read_until(socket_, incoming_, "\r\n");
        std::istream in(&incoming_);
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (AddReplyLine(reply, line))
            return reply;
    }
}

Reply Client::SendMessageBody(const std::string& message) {
    SendRaw(DotStuffed(message));
    return ReadReply();
}

bool Client::ServerClosed() {
    boost::system::error_code error;
    std::array<char, 4096> scratch;
    while (!error)
        if (tls_)
            tls_->read_some(asio::buffer(scratch), error);
        else
            socket_.read_some(asio::buffer(scratch), error);
    return error == asio::error::eof || error == asio::error::connection_reset ||
           error == asio::ssl::error::stream_truncated;
}

Reply Client::Deliver(const std::string& sender, const std::vector<std::string>& recipients,
                      const std::string& message) {
    auto reply = Command("MAIL FROM:<" + sender + ">");
    if (reply.code != 250)
        return reply;
    for (const auto& recipient : recipients) {
        reply = Command("RCPT TO:<" + recipient + ">");
        if (reply.code != 250)
            return reply;
    }
    reply = Command("DATA");
    if (reply.code != 354)
        return reply;
    return SendMessageBody(message);
}

std::string DotStuffed(const std::string& message) {
    std::string wire;
    wire.reserve(message.size() + message.size() / 40 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (lineStart && c == '.')
            wire += '.';
        lineStart = false;
        if (c == '\n') {
            if (wire.empty() || wire.back() != '\r')
                wire += '\r';
            wire += '\n';
            lineStart = true;
        } else {
            wire += c;
        }
    }
    if (!lineStart)
        wire += "\r\n";
    return wire + ".\r\n";
}

} // namespace server::smtp
