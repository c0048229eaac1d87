// Whole-file replacement under an exclusive lock, for the small shared files of the server folder.

#include "platform/host/FileUpdate.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::host {

namespace {

[[noreturn]] void Fail(const FileFailure& fail, const std::string& what,
                       const std::filesystem::path& path, int error) {
    fail(what, path, error);
    throw std::logic_error("a file failure handler returned"); // handlers throw
}

} // namespace

ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path& path, mode_t mode,
                                     const FileFailure& fail) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd_ < 0)
        Fail(fail, "open", path, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd_);
            Fail(fail, "lock", path, error);
        }
    }
}

ExclusiveFileLock::~ExclusiveFileLock() {
    ::close(fd_);
}

void ReplaceFileContent(const std::filesystem::path& path, const std::string& bytes, mode_t mode,
                        const FileFailure& fail) {
    static std::atomic<unsigned> sequence{0};
    auto temporary = path;
    temporary += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++sequence);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        Fail(fail, "create", temporary, errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            Fail(fail, "write", temporary, error);
        }
        written += static_cast<std::size_t>(n);
    }
    // The rename must never expose a file whose content is not on disk yet.
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Fail(fail, "write", temporary, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        Fail(fail, "replace", path, error);
    }
}

} // namespace platform::host
