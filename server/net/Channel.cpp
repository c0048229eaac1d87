// A connection's byte stream, plain or through OpenSSL.

#include "server/net/Channel.h"

#include <boost/asio/write.hpp>

#include <openssl/ssl.h>

namespace server::net {

namespace asio = boost::asio;
using boost::system::error_code;

Channel::Channel(Socket socket) : socket_(std::move(socket)) {
}

void Channel::ReadSome(asio::mutable_buffer buffer, Transferred done) {
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
