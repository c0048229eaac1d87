#pragma once

// The file of a unix socket a front listens on: a stale one left by a server that died is
// replaced, and the new one is reachable by its owner alone, or by one group too (an MTA's
// delivery agent runs under its own account).
//
// The socket's folder may belong to someone else (Postfix's private/ folder), who may swap any
// name in it at any time. So nothing is done by the socket's path but one rename: the socket is
// bound in a private folder made next to it, gets its group and mode there, and is then renamed
// to its path. A rename replaces whatever stands there and follows no link, so no chown or chmod
// can be turned onto another file.

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace server::net {

// The group's id, by name or number. Throws std::runtime_error for an unknown group.
gid_t GroupId(const std::string& group);

class UnixSocketFile {
public:
    // Checks that `path` may take the socket (nothing there, or a socket nobody listens on) and
    // that the group exists, then makes the private folder next to `path`. Throws
    // std::runtime_error when a server listens on the path, when it is something else than a
    // socket, or for an unknown group; std::system_error when the folder cannot be made.
    UnixSocketFile(std::filesystem::path path, std::string group);
    // Removes the private folder with a socket still in it.
    ~UnixSocketFile();
    UnixSocketFile(const UnixSocketFile&) = delete;
    UnixSocketFile& operator=(const UnixSocketFile&) = delete;

    // Where the socket is to be bound: a path into the private folder through its descriptor.
    std::string BindPath() const;
    // Once it is bound: gives the socket 0600, or 0660 and the group, and renames it to its path,
    // replacing a stale socket there; then removes the private folder. Throws
    // std::runtime_error when nothing was bound, std::system_error when a step fails.
    void MoveIntoPlace();

private:
    // Closes the folders, removing the private one with a socket still in it.
    void Release();

    std::filesystem::path path_;
    std::string group_;
    gid_t groupId_ = 0;
    int parentFd_ = -1;
    std::string privateName_;
    int privateFd_ = -1;
};

} // namespace server::net
