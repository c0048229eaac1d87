// Runs each step of the relay conversation as an asynchronous operation on a private io_context,
// for at most the time limit: a step not done by then closes the socket.

#include "server/submission/RelayClient.h"

#include "server/smtp/SmtpClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <istream>

namespace server::submission {

namespace {
// What a relay may send: lines of at most kMaxLine octets (RFC 5321 allows 512), replies of at
// most kMaxReplyLines lines. A relay that sends more is taken for one that cannot be talked to.
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxReplyLines = 100;
} // namespace

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

RelayClient::RelayClient(const std::string& hostPort, std::chrono::milliseconds timeout)
    : timeout_(timeout), host_(hostPort), socket_(io_), incoming_(kMaxLine) {
    const auto colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size())
        throw RelayUnreachable("relay_host \"" + hostPort + "\" is not host:port");
    auto host = hostPort.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    tcp::resolver resolver(io_);
    tcp::resolver::results_type endpoints;
    Await(
        [&](auto done) {
            resolver.async_resolve(host, hostPort.substr(colon + 1),
                                   [&, done](error_code error, tcp::resolver::results_type found) {
                                       endpoints = std::move(found);
                                       done(error);
                                   });
        },
        "looking up");
    Await(
        [&](auto done) {
            asio::async_connect(socket_, endpoints,
                                [done](error_code error, const tcp::endpoint&) { done(error); });
        },
        "connecting to");
    const auto greeting = ReadReply();
    if (greeting.code != 220)
        throw RelayUnreachable("relay " + host_ + " greeted with " + std::to_string(greeting.code));
}

// Runs the operation for at most the time limit; it calls `done` with its outcome.
template <class Operation> void RelayClient::Await(Operation operation, const char* step) {
    bool finished = false;
    error_code outcome;
    operation([&](error_code error) {
        finished = true;
        outcome = error;
    });
    io_.restart();
    io_.run_for(timeout_);
    if (!finished) {
        // Closing cancels the operation; its handler still has to run before this returns.
        error_code ignored;
        socket_.close(ignored);
        io_.restart();
        io_.run();
        throw RelayUnreachable(std::string(step) + " relay " + host_ + ": no answer within " +
                               std::to_string(timeout_.count()) + " ms");
    }
    if (outcome)
        throw RelayUnreachable(std::string(step) + " relay " + host_ + ": " + outcome.message());
}

smtp::Reply RelayClient::Command(const std::string& line) {
    return Send(line + "\r\n");
}

smtp::Reply RelayClient::Message(const std::string& message) {
    return Send(smtp::DotStuffed(message));
}

smtp::Reply RelayClient::Send(const std::string& wire) {
    Await(
        [&](auto done) {
            asio::async_write(socket_, asio::buffer(wire),
                              [done](error_code error, std::size_t) { done(error); });
        },
        "writing to");
    return ReadReply();
}

smtp::Reply RelayClient::ReadReply() {
    smtp::Reply reply;
    for (;;) {
        Await(
            [&](auto done) {
                asio::async_read_until(socket_, incoming_, "\r\n",
                                       [done](error_code error, std::size_t) { done(error); });
            },
            "reading from");
        std::istream in(&incoming_);
        std::string line;
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (reply.lines.size() >= kMaxReplyLines)
            throw RelayUnreachable("relay " + host_ + " sent a reply of too many lines");
        try {
            if (smtp::AddReplyLine(reply, line))
                return reply;
        } catch (const std::runtime_error&) {
            throw RelayUnreachable("relay " + host_ + " sent no SMTP reply");
        }
    }
}

} // namespace server::submission
