// Prepares the socket file a front listens on: live ones and other files at its path refused,
// the socket bound in a private folder next to the path, given its group and mode there through
// that folder's descriptor, and renamed into place over a stale one.

#include "server/net/UnixSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace server::net {

namespace fs = std::filesystem;

namespace {

// The socket's name inside the private folder; short, so that the path it is bound by is.
constexpr const char* kBoundName = "socket";

bool SomeoneListens(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Refuses a path that clients could not connect by, and one that holds anything but a stale
// socket.
void CheckReplaceable(const fs::path& path) {
    if (path.filename().empty())
        throw std::runtime_error(path.string() + " names no socket file");
    if (path.native().size() >= sizeof sockaddr_un{}.sun_path)
        throw std::runtime_error(path.string() + " is longer than a unix socket address holds (" +
                                 std::to_string(sizeof sockaddr_un{}.sun_path - 1) + " bytes)");
    std::error_code error;
    const auto status = fs::symlink_status(path, error);
    if (error || status.type() == fs::file_type::not_found)
        return;
    if (status.type() != fs::file_type::socket)
        throw std::runtime_error(path.string() + " exists and is not a socket");
    if (SomeoneListens(path))
        throw std::runtime_error("a server already listens on " + path.string());
}

// Throws errno's failure; errno is read before anything else could change it.
[[noreturn]] void Fail(const char* what, const fs::path& path) {
    const int error = errno;
    throw std::system_error(error, std::generic_category(), what + path.string());
}

std::string RandomSuffix() {
    std::random_device random;
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += "0123456789abcdef"[random() % 16];
    return suffix;
}

} // namespace

gid_t GroupId(const std::string& group) {
    if (const struct group* entry = ::getgrnam(group.c_str()))
        return entry->gr_gid;
    if (!group.empty() && group.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<gid_t>(std::stoul(group));
    throw std::runtime_error("no group named \"" + group + "\"");
}

UnixSocketFile::UnixSocketFile(fs::path path, std::string group)
    : path_(std::move(path)), group_(std::move(group)) {
    CheckReplaceable(path_);
    if (!group_.empty())
        groupId_ = GroupId(group_);
    const auto parent = path_.has_parent_path() ? path_.parent_path() : fs::path(".");
    try {
        parentFd_ = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parentFd_ < 0)
            Fail("cannot open the socket's folder ", parent);
        for (int attempt = 0;; ++attempt) {
            privateName_ = "." + path_.filename().string() + "." + RandomSuffix();
            if (::mkdirat(parentFd_, privateName_.c_str(), 0700) == 0)
                break;
            if (errno != EEXIST || attempt == 100) {
                privateName_.clear(); // not ours to remove
                Fail("cannot make a private folder for the socket in ", parent);
            }
        }
        privateFd_ = ::openat(parentFd_, privateName_.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // Whoever may change the socket's folder may have put a folder of their own in its
        // place already: only one of ours that nobody else may write into is taken, since
        // nothing made in it can then be swapped.
        struct stat status {};
        if (privateFd_ < 0 || ::fstat(privateFd_, &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
            throw std::runtime_error("the private folder " + (parent / privateName_).string() +
                                     " made for the socket was replaced");
        if (::access(fs::path(BindPath()).parent_path().c_str(), F_OK) != 0)
            throw std::runtime_error("cannot reach the private folder for the socket through "
                                     "/proc/self/fd (is /proc mounted?)");
    } catch (...) {
        Release();
        throw;
    }
}

UnixSocketFile::~UnixSocketFile() {
    Release();
}

std::string UnixSocketFile::BindPath() const {
    // The folder's descriptor, not its path, which could be swapped meanwhile.
    return "/proc/self/fd/" + std::to_string(privateFd_) + "/" + kBoundName;
}

void UnixSocketFile::MoveIntoPlace() {
    struct stat status {};
    if (::fstatat(privateFd_, kBoundName, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(status.st_mode))
        throw std::runtime_error("no socket was bound for " + path_.string());
    if (!group_.empty() && ::fchownat(privateFd_, kBoundName, static_cast<uid_t>(-1), groupId_,
                                      AT_SYMLINK_NOFOLLOW) != 0)
        Fail("cannot give its group the socket ", path_);
    if (::fchmodat(privateFd_, kBoundName, group_.empty() ? 0600 : 0660, 0) != 0)
        Fail("cannot limit who may connect to the socket ", path_);
    // Replaces a stale socket, or whatever was swapped in, without following it.
    if (::renameat(privateFd_, kBoundName, parentFd_, path_.filename().c_str()) != 0)
        Fail("cannot move the socket to ", path_);
    Release();
}

void UnixSocketFile::Release() {
    if (privateFd_ >= 0) {
        ::unlinkat(privateFd_, kBoundName, 0);
        ::close(privateFd_);
        privateFd_ = -1;
    }
    if (parentFd_ >= 0) {
        if (!privateName_.empty())
            ::unlinkat(parentFd_, privateName_.c_str(), AT_REMOVEDIR);
        ::close(parentFd_);
        parentFd_ = -1;
    }
}

} // namespace server::net
