// A connection's byte stream, plain or through OpenSSL.

#include "server/net/Channel.h"

#include <boost/asio/write.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

namespace server::net {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// TCP_QUICKACK in the shape of Asio's socket options.
struct QuickAcknowledgement {
    int on = 1;
    template <class Protocol> int level(const Protocol&) const { return IPPROTO_TCP; }
    template <class Protocol> int name(const Protocol&) const { return TCP_QUICKACK; }
    template <class Protocol> const int* data(const Protocol&) const { return &on; }
    template <class Protocol> std::size_t size(const Protocol&) const { return sizeof on; }
};

bool OverTcp(const Channel::Socket& socket) {
    error_code unknown;
    const auto family = socket.local_endpoint(unknown).protocol().family();
    return !unknown && (family == AF_INET || family == AF_INET6);
}

} // namespace

Channel::Channel(Socket socket) : socket_(std::move(socket)), tcp_(OverTcp(socket_)) {
}

void Channel::ReadSome(asio::mutable_buffer buffer, Transferred done) {
    // A client that writes a command in two parts (imaplib sends an APPEND literal, then its
    // line end) holds the second back until the first is acknowledged, and the kernel delays
    // that acknowledgement by 40 ms while it waits for a reply to carry it. Quick
    // acknowledgement lasts only a while, so it is asked for again before every read.
    if (tcp_) {
        error_code ignored;
        socket_.set_option(QuickAcknowledgement(), ignored);
    }
    if (encrypted_)
        return tls_->async_read_some(buffer, std::move(done));
    socket_.async_read_some(buffer, std::move(done));
}

void Channel::Write(asio::const_buffer buffer, Transferred done) {
    if (encrypted_)
        return asio::async_write(*tls_, buffer, std::move(done));
    asio::async_write(socket_, buffer, std::move(done));
}

void Channel::StartTls(std::shared_ptr<asio::ssl::context> context,
                       std::chrono::milliseconds within, Done done) {
    context_ = std::move(context);
    tls_.emplace(socket_, *context_);
    handshakeTimer_.emplace(socket_.get_executor());
    handshakeTimer_->expires_after(within);
    // The socket's cancel ends the handshake with operation_aborted.
    handshakeTimer_->async_wait([this](error_code error) {
        if (!error) {
            error_code ignored;
            socket_.cancel(ignored);
        }
    });
    tls_->async_handshake(asio::ssl::stream_base::server,
                          [this, done = std::move(done)](const error_code& error) {
                              handshakeTimer_->cancel();
                              encrypted_ = !error;
                              done(error);
                          });
}

std::string Channel::TlsDescription() const {
    if (!encrypted_)
        return {};
    auto* native = const_cast<asio::ssl::stream<Socket&>&>(*tls_).native_handle();
    return std::string(SSL_get_version(native)) + " " + SSL_get_cipher_name(native);
}

} // namespace server::net
