#pragma once

// The network side of the SMTP and LMTP fronts: accepts connections (TCP, or a unix socket for
// LMTP) and runs one Session per connection.
// Network and session work run on the io_context's thread. Backend calls (recipient lookups,
// deliveries), which may block for a long time when the directory or the store hangs, run on a pool
// of their own with a thread for every session the server admits, so that a session waiting for the
// backend waits alone; only a recipient the backend knows without waiting (Backend::KnownRecipient)
// is answered on the io_context's thread. One connection never has more than one thing in flight,
// and never more than one backend call running: a lookup abandoned at its deadline finishes before
// the session's next call starts.

#include "server/net/AcceptedSessions.h"
#include "server/smtp/SmtpSession.h"

#include <boost/asio/basic_socket_acceptor.hpp>
#include <boost/asio/generic/stream_protocol.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace server::smtp {

struct ServerSettings {
    Protocol protocol = Protocol::Smtp;
    std::string hostName = "localhost";
    Limits limits;
    std::size_t maxSessions = 100;
    // Sessions from one client address at a time; the next one is turned away with 421. Clients
    // of a unix socket have no address and are not counted.
    std::size_t maxSessionsPerClient = 10;
    // A session that sends nothing for this long is closed with 421.
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(5);
    // A whole command line must arrive within this time of the previous reply, however slowly
    // its bytes trickle in; the same for a whole message from the 354 reply.
    std::chrono::milliseconds commandTimeout = std::chrono::minutes(5);
    std::chrono::milliseconds dataTimeout = std::chrono::minutes(10);
    // No session lasts longer than this: it is then closed with 421 (once a backend call under
    // way has been answered).
    std::chrono::milliseconds sessionTimeout = std::chrono::minutes(30);
    // A recipient lookup not answered within this time gets 451 and the session goes on; the
    // late answer is dropped. Deliveries have no such deadline: a 451 followed by a late store
    // would make the client send the message twice.
    std::chrono::milliseconds lookupTimeout = std::chrono::seconds(5);
    // After Stop(), how long a client in the middle of sending a message may take to finish it.
    std::chrono::milliseconds drainTimeout = std::chrono::seconds(60);
};

// One backend per session: it may keep what it learned from RCPT for the DATA that follows.
using BackendFactory = std::function<std::unique_ptr<Backend>()>;

class Connection;

class Server {
public:
    // A TCP endpoint, or a boost::asio::local::stream_protocol::endpoint (a unix socket, which
    // must not exist yet: it is created with the process's umask).
    Server(boost::asio::io_context& io,
           const boost::asio::generic::stream_protocol::endpoint& endpoint, ServerSettings settings,
           BackendFactory backends);
    Server(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends)
        : Server(io, boost::asio::generic::stream_protocol::endpoint(endpoint), std::move(settings),
                 std::move(backends)) {}
    // The TCP address and port listened on; unspecified for a unix socket.
    boost::asio::ip::tcp::endpoint LocalEndpoint() const;

    void Start();
    // Stops accepting. A session whose message is being received or stored finishes it and
    // gets its reply; every session is then closed with 421. The io_context's run() returns
    // once the last session has ended. Call on the io_context's thread.
    void Stop();
    // Waits for backend calls still running (a lookup abandoned at its deadline); call after
    // the io_context's run() has returned.
    void Join() { sessions_.Join(); }
    // A connection has closed: it no longer counts for its client or against the limits.
    void Ended(const std::shared_ptr<Connection>& connection);

    const ServerSettings& Settings() const { return settings_; }
    net::AcceptedSessions<Connection>& Sessions() { return sessions_; }

private:
    void Accept();

    boost::asio::basic_socket_acceptor<boost::asio::generic::stream_protocol> acceptor_;
    ServerSettings settings_;
    BackendFactory backends_;
    std::map<boost::asio::ip::address, std::size_t> sessionsPerClient_;
    // Last, so that its pool is joined before the rest goes.
    net::AcceptedSessions<Connection> sessions_;
};

} // namespace server::smtp
