#pragma once

// Updating a small file that several processes read and write: one writer at a time holds an
// exclusive lock, and the new content replaces the old whole (temporary file, fsync, rename), so a
// reader never sees half of it.

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>

namespace platform::host {

// Reports a failed file operation ("open", "lock", "create", "write", "replace"), the path and
// errno; it must throw, so that each owner of a file fails with its own number and wording.
using FileFailure =
    std::function<void(const std::string& what, const std::filesystem::path& path, int error)>;

// Holds an exclusive lock (flock) on a lock file, created with `mode` when missing.
class ExclusiveFileLock {
public:
    ExclusiveFileLock(const std::filesystem::path& path, mode_t mode, const FileFailure& fail);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

private:
    int fd_ = -1;
};

// Writes `bytes` to a new file beside `path` with `mode` from the first byte on, syncs it and
// renames it over `path`. On failure nothing is left behind and `path` is unchanged.
void ReplaceFileContent(const std::filesystem::path& path, const std::string& bytes, mode_t mode,
                        const FileFailure& fail);

} // namespace platform::host
