#pragma once

// A fresh server folder for one test or benchmark: a short folder under /tmp (so that the
// directory server's socket path fits), named by EXHOST_ROOT while it lives. On
// destruction a directory server started in it is stopped and the folder removed (kept when
// LORVANTA_KEEP_FIXTURES is set, to look at after a failure).

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

class ScopedServerFolder {
public:
    ScopedServerFolder();
    ~ScopedServerFolder();
    ScopedServerFolder(const ScopedServerFolder&) = delete;
    ScopedServerFolder& operator=(const ScopedServerFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder as the text a command line's --root takes.
    std::string Root() const { return path_.string(); }
    std::filesystem::path ComDir() const;

private:
    std::filesystem::path path_;
    std::optional<std::string> previousRoot_;
};

} // namespace testsupport
