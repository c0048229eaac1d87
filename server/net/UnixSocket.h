#pragma once

// The file of a unix socket a front listens on: a stale one left by a server that died is
// removed before listening, and the new one is reachable by its owner alone, or by one group
// too (an MTA's delivery agent runs under its own account).

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace server::net {

// Removes a socket file nobody listens on. Throws std::runtime_error when a server listens on
// it, or when the path is something else than a socket.
void RemoveStaleSocket(const std::filesystem::path& path);

// The group's id, by name or number. Throws std::runtime_error for an unknown group.
gid_t GroupId(const std::string& group);

// 0600, or 0660 and owned by `group` when one is given. Throws std::filesystem::filesystem_error.
void LimitSocketAccess(const std::filesystem::path& path, const std::string& group);

// Sets the process's umask for as long as it lives, so that a socket is never created with
// wider access than the one it is given afterwards.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

} // namespace server::net
