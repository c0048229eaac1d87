#pragma once

// The network side of the IMAP front: accepts connections and runs one Session per connection.
// Sockets are served on the io_context's thread; session work (which may wait for the directory
// or the store) runs on a pool with a thread for every session the server admits, one step at a
// time per connection. While a client idles (IDLE) its folder is looked at every `idlePoll`.

#include "server/imap/ImapSession.h"
#include "server/net/AcceptedSessions.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace server::imap {

struct ServerSettings {
    SessionSettings session;
    std::size_t maxSessions = 100;
    // A session that sends nothing for this long is logged out (RFC 3501 asks for at least 30
    // minutes).
    std::chrono::milliseconds autoLogout = std::chrono::minutes(30);
    std::chrono::milliseconds idlePoll = std::chrono::seconds(1);
};

// One backend per session: it knows who logged in.
using BackendFactory = std::function<std::unique_ptr<Backend>()>;

class Connection;

class Server {
public:
    Server(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends);
    boost::asio::ip::tcp::endpoint LocalEndpoint() const;

    void Start();
    // Stops accepting; every session gets a BYE once its current step is answered and is
    // closed. The io_context's run() returns once the last one has ended. Call on the
    // io_context's thread.
    void Stop();
    // Waits for session work still running; call after the io_context's run() has returned.
    void Join() { sessions_.Join(); }

    const ServerSettings& Settings() const { return settings_; }
    net::AcceptedSessions<Connection>& Sessions() { return sessions_; }

private:
    void Accept();

    boost::asio::ip::tcp::acceptor acceptor_;
    ServerSettings settings_;
    BackendFactory backends_;
    // Last, so that its pool is joined before the rest goes.
    net::AcceptedSessions<Connection> sessions_;
};

} // namespace server::imap
