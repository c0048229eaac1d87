// Creates folders and files that only their owner may read, and tightens the mode of those already
// there, whatever the umask.

#include "platform/host/PrivateFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::host {

namespace fs = std::filesystem;

namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

} // namespace

void CreatePrivateFolder(const fs::path& folder, std::error_code& error) {
    error.clear();
    fs::path path;
    for (const auto& part : folder.lexically_normal()) {
        path /= part;
        if (part.empty() || path == path.root_path())
            continue;
        if (::mkdir(path.c_str(), kPrivateFolderMode) == 0) {
            // The umask may have taken bits away that the owner needs.
            if (::chmod(path.c_str(), kPrivateFolderMode) != 0) {
                error = LastError();
                return;
            }
        } else if (errno != EEXIST) {
            error = LastError();
            return;
        }
    }
    if (!fs::is_directory(folder, error)) {
        if (!error)
            error = std::make_error_code(std::errc::not_a_directory);
        return;
    }
    if (::chmod(folder.c_str(), kPrivateFolderMode) != 0)
        error = LastError();
}

void CreatePrivateFolder(const fs::path& folder) {
    std::error_code error;
    CreatePrivateFolder(folder, error);
    if (error)
        throw fs::filesystem_error("cannot create a private folder", folder, error);
}

void CreatePrivateFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) {
        if (errno != EEXIST)
            throw fs::filesystem_error("cannot create a private file", file, LastError());
        MakePrivateIfPresent(file);
        return;
    }
    // The umask may have taken bits away that the owner needs.
    const bool made = ::fchmod(fd, kPrivateFileMode) == 0;
    const auto error = LastError();
    ::close(fd);
    if (!made)
        throw fs::filesystem_error("cannot create a private file", file, error);
}

void MakePrivateIfPresent(const fs::path& file) {
    // Best effort on a file that another user owns or that lies on a read-only file system:
    // whoever opens it then gets the failure that fits.
    if (::chmod(file.c_str(), kPrivateFileMode) != 0 && errno != ENOENT && errno != EPERM &&
        errno != EROFS)
        throw fs::filesystem_error("cannot make a file private", file, LastError());
}

} // namespace platform::host
