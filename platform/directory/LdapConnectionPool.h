#pragma once

// Bound directory connections kept for reuse, as the data access layer's resource pooling keeps
// provider sessions: a query on a new connection costs a connect and a bind round trip before
// its search, so a connection its session has closed waits here for the next query to the same
// server. Callers still open and close their connections as before; they cannot tell a pooled
// connection from a new one except by speed.

#include "platform/core/Error.h"
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
    // LdapConnection's constructor fails; `timeLimit` as there).
    Lease Acquire(const std::string& uri, std::chrono::milliseconds timeLimit = {});

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

// The connections one piece of work took from a pool, one per server, held until cleared.
class HeldConnections {
public:
    explicit HeldConnections(LdapConnectionPool& pool = LdapConnectionPool::Process())
        : pool_(pool) {}

    // The connection to `uri` held already, or one from the pool (`timeLimit`: see Acquire).
    std::shared_ptr<LdapConnection> To(const std::string& uri,
                                       std::chrono::milliseconds timeLimit = {});
    void Clear() { held_.clear(); }

    // After the work failed with `error`: none of the connections is kept for reuse (one may
    // hold an unfinished operation or talk to a server that stopped answering) and all are let
    // go. True when the failure may only mean that a reused connection had outlived a restart of
    // its server; that server's waiting connections are then dropped too.
    bool Failed(const Error& error);

private:
    LdapConnectionPool& pool_;
    std::map<std::string, LdapConnectionPool::Lease> held_;
};

// Runs `work`, which takes its connections from `held`; when it fails only because a reused
// connection had gone stale, runs it once more, on new connections. Connections that saw a
// failure are never kept.
template <class Work> auto RetryOnStale(HeldConnections& held, Work&& work) {
    try {
        return work();
    } catch (const Error& error) {
        if (!held.Failed(error))
            throw;
    }
    try {
        return work();
    } catch (const Error& error) {
        held.Failed(error);
        throw;
    }
}

} // namespace platform::directory
