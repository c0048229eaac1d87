#pragma once

// The server folder and everything in it belong to its owner alone: mail, passwords and the
// directory must not be readable by other local users. Modes are set explicitly, so that they
// hold whatever the process's umask is.

#include <filesystem>
#include <sys/types.h>

namespace platform::host {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// Creates `folder` and its missing parents as private folders, and makes `folder` itself private
// when it already exists. Throws std::filesystem::filesystem_error.
void CreatePrivateFolder(const std::filesystem::path& folder);
// The same, reporting a failure through `error` instead.
void CreatePrivateFolder(const std::filesystem::path& folder, std::error_code& error);

// Creates `file` empty and private when missing; an existing one keeps its content and is made
// private as MakePrivateIfPresent does. Throws std::filesystem::filesystem_error.
void CreatePrivateFile(const std::filesystem::path& file);

// Makes an existing file private; does nothing when it is missing, and leaves alone a file that
// another user owns or that lies on a read-only file system.
void MakePrivateIfPresent(const std::filesystem::path& file);

} // namespace platform::host
