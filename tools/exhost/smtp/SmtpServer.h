#pragma once

// The network side of the SMTP front: accepts connections and runs one Session per connection.
// Network work runs on the io_context's thread; Session::Feed (which may look up recipients and
// store messages) runs on a small pool of workers so that one slow delivery does not hold up
// the other sessions. One connection never has more than one thing in flight.

#include "SmtpSession.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <set>

namespace exhost::smtp {

struct ServerSettings {
    std::string hostName = "localhost";
    Limits limits;
    std::size_t workers = 4;
    std::size_t maxSessions = 100;
    // A session that sends nothing for this long is closed with 421.
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(5);
    // After Stop(), how long a client in the middle of sending a message may take to finish it.
    std::chrono::milliseconds drainTimeout = std::chrono::seconds(60);
};

// One backend per session: it may keep what it learned from RCPT for the DATA that follows.
using BackendFactory = std::function<std::unique_ptr<Backend>()>;

class Connection;

class Server {
public:
    Server(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
           ServerSettings settings, BackendFactory backends);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    boost::asio::ip::tcp::endpoint LocalEndpoint() const;

    void Start();
    // Stops accepting. A session whose message is being received or stored finishes it and
    // gets its reply; every session is then closed with 421. The io_context's run() returns
    // once the last session has ended. Call on the io_context's thread.
    void Stop();
    // Waits for the workers; call after the io_context's run() has returned.
    void Join();

    const ServerSettings& Settings() const { return settings_; }
    bool Stopping() const { return stopping_; }
    boost::asio::thread_pool& Workers() { return workers_; }
    void Ended(const std::shared_ptr<Connection>& connection);

private:
    void Accept();

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    ServerSettings settings_;
    BackendFactory backends_;
    boost::asio::thread_pool workers_;
    std::set<std::shared_ptr<Connection>> connections_;
    bool stopping_ = false;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        keepRunning_;
};

} // namespace exhost::smtp
