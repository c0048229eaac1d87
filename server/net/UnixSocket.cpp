// Prepares the socket file a front listens on: stale ones removed, live ones left alone with an
// error, and access limited to the owner and optionally one group.

#include "server/net/UnixSocket.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace server::net {

namespace fs = std::filesystem;

namespace {

bool SomeoneListens(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

void RemoveStaleSocket(const fs::path& path) {
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    if (error || status.type() == fs::file_type::not_found)
        return;
    if (status.type() != fs::file_type::socket)
        throw std::runtime_error(path.string() + " exists and is not a socket");
    if (SomeoneListens(path))
        throw std::runtime_error("a server already listens on " + path.string());
    fs::remove(path);
}

gid_t GroupId(const std::string& group) {
    if (const struct group* entry = ::getgrnam(group.c_str()))
        return entry->gr_gid;
    if (!group.empty() && group.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<gid_t>(std::stoul(group));
    throw std::runtime_error("no group named \"" + group + "\"");
}

void LimitSocketAccess(const fs::path& path, const std::string& group) {
    const auto fail = [&](const char* what) {
        throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
    };
    if (!group.empty() && ::chown(path.c_str(), static_cast<uid_t>(-1), GroupId(group)) != 0)
        fail("cannot give the socket to its group");
    if (::chmod(path.c_str(), group.empty() ? 0600 : 0660) != 0)
        fail("cannot limit who may connect to the socket");
}

ScopedUmask::ScopedUmask(mode_t mask) : previous_(::umask(mask)) {
}

ScopedUmask::~ScopedUmask() {
    ::umask(previous_);
}

} // namespace server::net
