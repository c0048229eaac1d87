#pragma once

// Bound directory connections kept for reuse, as the data access layer's resource pooling keeps
// provider sessions: a query on a new connection costs a connect and a bind round trip before
// its search, so a connection its session has closed waits here for the next query to the same
// server. Callers still open and close their connections as before; they cannot tell a pooled
// connection from a new one except by speed.

#include "platform/directory/LdapConnection.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::directory {

class LdapConnectionPool {
public:
    // How long a connection may wait unused, and how many may wait per server, unless told.
    static constexpr std::chrono::seconds kIdleTime{60};
    static constexpr std::size_t kIdlePerServer = 8;

    explicit LdapConnectionPool(std::chrono::milliseconds idleTime = kIdleTime,
                                std::size_t idlePerServer = kIdlePerServer)
        : idleTime_(idleTime), idlePerServer_(idlePerServer) {}

    // The pool of this process. It is never destroyed: connections may be released during exit.
    static LdapConnectionPool& Process();

    struct Lease {
        // Goes back to the pool when the last holder lets go, unless marked not reusable.
        std::shared_ptr<LdapConnection> connection;
        bool reused = false; // whether it served earlier queries (it may have gone stale since)
    };

    // A waiting connection to `uri` that still looks alive, or a new one (which may fail as
    // LdapConnection's constructor fails).
    Lease Acquire(const std::string& uri);

    // Drops every waiting connection to `uri`: after a reused one failed, its siblings are
    // likely stale too (the server restarted).
    void Forget(const std::string& uri);

    std::size_t IdleCount(const std::string& uri);

private:
    struct Idle {
        std::unique_ptr<LdapConnection> connection;
        std::chrono::steady_clock::time_point since;
    };

    std::shared_ptr<LdapConnection> Wrap(std::unique_ptr<LdapConnection> connection);
    void Release(std::unique_ptr<LdapConnection> connection);

    const std::chrono::milliseconds idleTime_;
    const std::size_t idlePerServer_;
    std::mutex mutex_;
    std::map<std::string, std::vector<Idle>> idle_;
};

} // namespace platform::directory
