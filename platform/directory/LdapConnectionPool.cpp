// Keeps closed directory connections per server for the next query, dropping those the server has
// closed meanwhile.

#include "platform/directory/LdapConnectionPool.h"

#include <ldap.h>
#include <poll.h>

#include <algorithm>
#include <iterator>

namespace platform::directory {

namespace {

using Clock = std::chrono::steady_clock;

// An idle connection has nothing to read: readable means the server closed it or sent a notice
// of disconnection.
bool LooksAlive(LdapConnection& connection) {
    int descriptor = -1;
    if (ldap_get_option(connection.Handle(), LDAP_OPT_DESC, &descriptor) != LDAP_OPT_SUCCESS ||
        descriptor < 0)
        return false;
    pollfd watch{descriptor, POLLIN, 0};
    const int ready = poll(&watch, 1, 0);
    return ready == 0;
}

} // namespace

LdapConnectionPool& LdapConnectionPool::Process() {
    static auto* pool = new LdapConnectionPool;
    return *pool;
}

LdapConnectionPool::Lease LdapConnectionPool::Acquire(const std::string& uri,
                                                      std::chrono::milliseconds timeLimit) {
    for (;;) {
        std::unique_ptr<LdapConnection> candidate;
        {
            std::lock_guard lock(mutex_);
            auto found = idle_.find(uri);
            if (found == idle_.end() || found->second.empty())
                break;
            auto& waiting = found->second;
            // The most recently used first: the likeliest to be alive.
            if (Clock::now() - waiting.back().since < idleTime_)
                candidate = std::move(waiting.back().connection);
            waiting.pop_back();
        }
        // Closing a stale connection talks to the network: not under the lock.
        if (candidate && LooksAlive(*candidate))
            return {Wrap(std::move(candidate)), true};
    }
    return {Wrap(std::make_unique<LdapConnection>(uri, timeLimit)), false};
}

void LdapConnectionPool::Forget(const std::string& uri) {
    std::vector<Idle> dropped;
    {
        std::lock_guard lock(mutex_);
        auto found = idle_.find(uri);
        if (found == idle_.end())
            return;
        dropped = std::move(found->second);
        idle_.erase(found);
    }
}

std::size_t LdapConnectionPool::IdleCount(const std::string& uri) {
    std::lock_guard lock(mutex_);
    auto found = idle_.find(uri);
    return found == idle_.end() ? 0 : found->second.size();
}

std::shared_ptr<LdapConnection>
LdapConnectionPool::Wrap(std::unique_ptr<LdapConnection> connection) {
    connection->reusable = true;
    return {connection.release(), [this](LdapConnection* released) {
                Release(std::unique_ptr<LdapConnection>(released));
            }};
}

void LdapConnectionPool::Release(std::unique_ptr<LdapConnection> connection) {
    if (!connection->reusable)
        return;
    // Whatever is not kept closes after the lock is let go: closing talks to the network.
    std::vector<Idle> expired;
    std::lock_guard lock(mutex_);
    auto& waiting = idle_[connection->Uri()];
    const auto now = Clock::now();
    const auto stale = std::stable_partition(waiting.begin(), waiting.end(), [&](const Idle& idle) {
        return now - idle.since < idleTime_;
    });
    std::move(stale, waiting.end(), std::back_inserter(expired));
    waiting.erase(stale, waiting.end());
    if (waiting.size() < idlePerServer_)
        waiting.push_back({std::move(connection), now});
}

std::shared_ptr<LdapConnection> HeldConnections::To(const std::string& uri,
                                                    std::chrono::milliseconds timeLimit) {
    auto& lease = held_[uri];
    if (!lease.connection)
        lease = pool_.Acquire(uri, timeLimit);
    return lease.connection;
}

bool HeldConnections::Failed(const Error& error) {
    const bool serverGone = error.Number() == hr::ERROR_DS_SERVER_DOWN;
    bool anyReused = false;
    for (auto& [uri, lease] : held_) {
        if (lease.connection)
            lease.connection->reusable = false;
        if (lease.reused && serverGone)
            pool_.Forget(uri);
        anyReused = anyReused || lease.reused;
    }
    held_.clear();
    return serverGone && anyReused;
}

} // namespace platform::directory
