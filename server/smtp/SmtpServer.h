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

#include "server/net/FrontServer.h"
#include "server/net/TlsContext.h"
#include "server/smtp/SmtpSession.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
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
    // With credentials, STARTTLS is offered, or the session begins with the handshake
    // (`implicitTls`, submission on port 465); a client must finish it within the time.
    std::shared_ptr<net::TlsCredentials> tls;
    bool implicitTls = false;
    std::chrono::milliseconds tlsHandshakeTimeout = std::chrono::seconds(30);
    // Message submission: logins first (Session::RequireLogin), in clear only from a client on
    // this machine.
    bool submission = false;
};

class Connection;

// One backend per session: it may keep what it learned from RCPT for the DATA that follows.
// Stopping (net::Listener::Stop) lets a session whose message is being received or stored finish
// it and get its reply; every session is then closed with 421. Join() waits for backend calls
// still running, such as a lookup abandoned at its deadline.
class Server : public net::FrontServer<ServerSettings, Backend> {
public:
    // A TCP endpoint, or a boost::asio::local::stream_protocol::endpoint (a unix socket, which
    // must not exist yet: it is created with the process's umask).
    Server(boost::asio::io_context& io, const net::Stream::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends);
};

} // namespace server::smtp
