#pragma once

// The sessions a network front has accepted, the pool their blocking work runs on and the hold
// they keep on the io_context: the plumbing the SMTP/LMTP and IMAP servers share. Everything but
// the pool is used on the io_context's thread only.

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <memory>
#include <optional>
#include <set>

namespace server::net {

// Connection has Stop(): stop at the end of the current step, then close and report Ended().
template <class Connection> class AcceptedSessions {
public:
    // The pool has a thread for every session admitted, so that one waiting for a hung directory
    // or a slow store waits alone.
    AcceptedSessions(boost::asio::io_context& io, std::size_t maxSessions)
        : io_(io), maxSessions_(maxSessions), workers_(maxSessions) {}
    ~AcceptedSessions() { workers_.join(); }
    AcceptedSessions(const AcceptedSessions&) = delete;
    AcceptedSessions& operator=(const AcceptedSessions&) = delete;

    // From now on the io_context's run() returns only once Stop() has been called and the last
    // session has ended.
    void Start() { keepRunning_.emplace(io_.get_executor()); }

    // Counts a new connection in; false when it is one past the limit and must be turned away
    // (it still reports Ended() once closed).
    bool Admit(const std::shared_ptr<Connection>& connection) {
        connections_.insert(connection);
        return connections_.size() <= maxSessions_;
    }

    void Stop() {
        if (stopping_)
            return;
        stopping_ = true;
        // Stop may close connections, which takes them out of the set.
        const auto connections = connections_;
        for (const auto& connection : connections)
            connection->Stop();
        ReleaseWhenIdle();
    }

    void Ended(const std::shared_ptr<Connection>& connection) {
        connections_.erase(connection);
        ReleaseWhenIdle();
    }

    // Waits for work still running on the pool; call after the io_context's run() has returned.
    void Join() { workers_.join(); }

    bool Stopping() const { return stopping_; }
    boost::asio::thread_pool& Workers() { return workers_; }

private:
    void ReleaseWhenIdle() {
        if (stopping_ && connections_.empty())
            keepRunning_.reset();
    }

    boost::asio::io_context& io_;
    std::size_t maxSessions_;
    boost::asio::thread_pool workers_;
    std::set<std::shared_ptr<Connection>> connections_;
    bool stopping_ = false;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        keepRunning_;
};

} // namespace server::net
