#pragma once

// The network side of the IMAP front: accepts connections and runs one Session per connection.
// Sockets are served on the io_context's thread; session work (which may wait for the directory
// or the store) runs on a pool with a thread for every session the server admits, one step at a
// time per connection. The network thread never touches a session a worker may be running: what
// it needs to know comes back with each step's Output. While a client idles (IDLE) its folder is
// looked at when the change notices (`changes`) say it changed, and every `idlePoll` besides.
// Each session's start and end are logged.

#include "server/imap/ChangeNotices.h"
#include "server/imap/IdleWatchers.h"
#include "server/imap/ImapSession.h"
#include "server/net/FrontServer.h"
#include "server/net/TlsContext.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace server::imap {

struct ServerSettings {
    SessionSettings session;
    std::size_t maxSessions = 100;
    // Sessions from one client address at a time; the next one is turned away with a BYE. Mail
    // clients open several sessions each (one per folder they watch).
    std::size_t maxSessionsPerClient = 20;
    // A session that has not logged in this long after its greeting gets a BYE.
    std::chrono::milliseconds loginTimeout = std::chrono::seconds(60);
    // A session that sends nothing and takes nothing of its answers for this long is logged out
    // (RFC 3501 asks for at least 30 minutes), also while a step of it is under way.
    std::chrono::milliseconds autoLogout = std::chrono::minutes(30);
    // Where the server hears of changed folders; without it `idlePoll` should be short.
    std::shared_ptr<ChangeNotices> changes;
    std::chrono::milliseconds idlePoll = std::chrono::seconds(1);
    // A session is not read, and runs no further step, while this much of its output waits to be
    // sent: a client that sends commands without reading the answers holds no more than that.
    std::size_t maxUnsentOutput = 1024 * 1024;
    // Input received but not yet taken by the session, after and before a login.
    std::size_t maxHeldInput = 256 * 1024;
    std::size_t maxHeldInputBeforeLogin = 16 * 1024;
    // When the server stops, a step under way has this long to be answered before its session
    // gets the BYE anyway (the late answer is dropped), and the BYE as long again to be sent.
    std::chrono::milliseconds stopGrace = std::chrono::seconds(2);
    // With credentials, STARTTLS is offered, or every session begins with the handshake
    // (`implicitTls`, port 993); a client must finish it within the time.
    std::shared_ptr<net::TlsCredentials> tls;
    bool implicitTls = false;
    std::chrono::milliseconds tlsHandshakeTimeout = std::chrono::seconds(30);
};

class Connection;

// One backend per session: it knows who logged in. Stopping (net::Listener::Stop) gives every
// session a BYE once its current step is answered, or after `stopGrace` without the answer, and
// closes it. Join() waits for session work still running.
class Server : public net::FrontServer<ServerSettings, Backend> {
public:
    // A TCP endpoint, or a boost::asio::local::stream_protocol::endpoint (a unix socket, which
    // must not exist yet).
    Server(boost::asio::io_context& io, const net::Stream::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends);
    ~Server();

    // The idling sessions by the folder they watch; on the network thread only.
    IdleWatchers& Watchers() { return *watchers_; }

private:
    // Shared with the notices posted to the network thread, which may outlive the server.
    std::shared_ptr<IdleWatchers> watchers_ = std::make_shared<IdleWatchers>();
    std::shared_ptr<void> subscription_;
};

} // namespace server::imap
