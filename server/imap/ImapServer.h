#pragma once

// The network side of the IMAP front: accepts connections and runs one Session per connection.
// Sockets are served on the io_context's thread; session work (which may wait for the directory
// or the store) runs on a pool with a thread for every session the server admits, one step at a
// time per connection. While a client idles (IDLE) its folder is looked at every `idlePoll`.

#include "server/imap/ImapSession.h"
#include "server/net/FrontServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace server::imap {

struct ServerSettings {
    SessionSettings session;
    std::size_t maxSessions = 100;
    // Sessions from one client address at a time; the next one is turned away with a BYE.
    // Mail clients open several sessions each (one per folder they watch), so by default one
    // address may use them all.
    std::size_t maxSessionsPerClient = maxSessions;
    // A session that sends nothing for this long is logged out (RFC 3501 asks for at least 30
    // minutes).
    std::chrono::milliseconds autoLogout = std::chrono::minutes(30);
    std::chrono::milliseconds idlePoll = std::chrono::seconds(1);
};

class Connection;

// One backend per session: it knows who logged in. Stopping (net::Listener::Stop) gives every
// session a BYE once its current step is answered and closes it. Join() waits for session work
// still running.
class Server : public net::FrontServer<ServerSettings, Backend> {
public:
    // A TCP endpoint, or a boost::asio::local::stream_protocol::endpoint (a unix socket, which
    // must not exist yet).
    Server(boost::asio::io_context& io, const net::Stream::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends);
};

} // namespace server::imap
