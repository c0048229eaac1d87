#pragma once

// A connection's bytes, as the fronts read and write them: straight on the accepted socket, or
// through TLS once StartTls() has made the handshake (at once for implicit TLS, or after a
// STARTTLS command). Used on the io_context's thread only, one read and one write at a time.

#include <boost/asio/generic/stream_protocol.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace server::net {

class Channel {
public:
    using Socket = boost::asio::generic::stream_protocol::socket;
    using Transferred = std::function<void(const boost::system::error_code&, std::size_t)>;
    using Done = std::function<void(const boost::system::error_code&)>;

    explicit Channel(Socket socket);

    Socket& Lowest() { return socket_; }
    Socket::executor_type Executor() { return socket_.get_executor(); }

    // Reads what has arrived, at most the buffer's size.
    void ReadSome(boost::asio::mutable_buffer buffer, Transferred done);
    // Writes the whole buffer.
    void Write(boost::asio::const_buffer buffer, Transferred done);

    // The server's side of a TLS handshake; from then on every byte is encrypted. A client that
    // has not finished it within `within` is cut off (done gets operation_aborted).
    void StartTls(std::shared_ptr<boost::asio::ssl::context> context,
                  std::chrono::milliseconds within, Done done);
    bool Encrypted() const { return encrypted_; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" once encrypted, for the log.
    std::string TlsDescription() const;

private:
    Socket socket_;
    std::shared_ptr<boost::asio::ssl::context> context_; // outlives the stream made with it
    std::optional<boost::asio::ssl::stream<Socket&>> tls_;
    std::optional<boost::asio::steady_timer> handshakeTimer_;
    bool encrypted_ = false;
    bool tcp_ = false;
};

} // namespace server::net
