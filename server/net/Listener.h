#pragma once

// What the SMTP, LMTP and IMAP fronts share on the network: one listening socket (TCP or a unix
// socket), its accept loop, the sessions it has admitted with their limits per server and per
// client address, the pool their blocking work runs on, and stopping. Everything but the pool is
// used on the io_context's thread only.

#include "server/net/WorkerPool.h"

#include <boost/asio/basic_socket_acceptor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/generic/stream_protocol.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace server::net {

using Stream = boost::asio::generic::stream_protocol;

struct SessionLimits {
    std::size_t maxSessions = 100;
    // Sessions from one client address at a time. Clients of a unix socket have no address and
    // are not counted.
    std::size_t maxSessionsPerClient = 10;
};

// Why a connection is turned away as soon as it is accepted.
enum class Refusal { TooManySessions, TooManyFromClient };

// A front's connection, as the listener drives it.
class AcceptedConnection {
public:
    virtual ~AcceptedConnection() = default;
    // Starts the session: the greeting goes out.
    virtual void Begin() = 0;
    // Ends the connection at once with the front's answer to `why`.
    virtual void Refuse(Refusal why, const boost::asio::ip::address& client) = 0;
    // Stop at the end of the current step, then close.
    virtual void Stop() = 0;
};

class Listener {
public:
    // A new connection for an accepted socket; `client` is unspecified for a unix socket's.
    using MakeConnection = std::function<std::shared_ptr<AcceptedConnection>(
        Stream::socket socket, const boost::asio::ip::address& client)>;

    // A TCP endpoint, or a boost::asio::local::stream_protocol::endpoint (a unix socket, which
    // must not exist yet: it is created with the process's umask). The pool may have a thread
    // for every session admitted.
    Listener(boost::asio::io_context& io, const Stream::endpoint& endpoint, SessionLimits limits,
             MakeConnection make);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // The TCP address and port listened on; unspecified for a unix socket.
    boost::asio::ip::tcp::endpoint LocalEndpoint() const;

    // Accepts connections. From now on the io_context's run() returns only once Stop() has been
    // called and the last session has ended. When accepting fails for want of resources (out of
    // file descriptors, buffers or memory) it waits before trying again, 100 ms and twice as
    // long each time up to a second, logging the first failure and the recovery: the waiting
    // connections stay queued, and the loop does not spin on them.
    void Start();
    // Stops accepting and asks every session to stop (AcceptedConnection::Stop).
    void Stop();
    // A connection is done: its socket is shut down and closed, and it no longer counts for its
    // client or against the limits. Every connection made reports this once, those refused too.
    void Ended(Stream::socket& socket, const std::shared_ptr<AcceptedConnection>& connection);
    // Waits for work still running on the pool; call after the io_context's run() has returned.
    void Join() { workers_.Join(); }

    bool Stopping() const { return stopping_; }
    WorkerPool& Workers() { return workers_; }

private:
    void Accept();
    void AcceptFailed(const boost::system::error_code& error);
    void Admit(Stream::socket socket);
    void ReleaseWhenIdle();

    boost::asio::io_context& io_;
    boost::asio::basic_socket_acceptor<Stream> acceptor_;
    SessionLimits limits_;
    MakeConnection make_;
    std::map<std::shared_ptr<AcceptedConnection>, boost::asio::ip::address> connections_;
    std::map<boost::asio::ip::address, std::size_t> sessionsPerClient_;
    bool stopping_ = false;
    boost::asio::steady_timer retry_;
    std::chrono::milliseconds retryDelay_{0}; // while accepting fails; 0 when it works
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        keepRunning_;
    WorkerPool workers_;
};

// How a client is named in the log and to the session: its IP address, or "local" for a unix
// socket's client.
std::string ClientName(const boost::asio::ip::address& client);
// Whether a client so named is on this machine (loopback or a unix socket): what it sends
// does not cross a network.
bool ClientIsLocal(const std::string& clientName);

// The factory of a front whose connections are made from its server, the accepted socket and the
// client's address ("" for a unix socket's client).
template <class Connection, class Server> Listener::MakeConnection ConnectionsOf(Server& server) {
    return [&server](Stream::socket socket, const boost::asio::ip::address& client) {
        return std::make_shared<Connection>(server, std::move(socket), ClientName(client));
    };
}

} // namespace server::net
