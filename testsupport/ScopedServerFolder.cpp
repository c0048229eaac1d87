// Creates a short-named server folder under /tmp for one test or benchmark, and stops its directory
// and removes it afterwards.

#include "testsupport/ScopedServerFolder.h"

#include "platform/directory/DirectoryServer.h"
#include "platform/host/ServerFolder.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace fs = std::filesystem;
using platform::host::kRootVariable;

ScopedServerFolder::ScopedServerFolder() {
    char pattern[] = "/tmp/lvXXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary server folder");
    path_ = pattern;
    if (const char* previous = std::getenv(kRootVariable))
        previousRoot_ = previous;
    ::setenv(kRootVariable, path_.c_str(), 1);
}

ScopedServerFolder::~ScopedServerFolder() {
    if (previousRoot_)
        ::setenv(kRootVariable, previousRoot_->c_str(), 1);
    else
        ::unsetenv(kRootVariable);
    const auto directory = platform::host::ServerFolder(path_).DirectoryDir();
    std::error_code ignored;
    if (fs::exists(directory, ignored)) {
        try {
            platform::directory::DirectoryServerSettings settings;
            settings.folder = directory;
            platform::directory::DirectoryServer(settings).Stop();
        } catch (const std::exception&) {
            // Stopping is best effort: the folder goes either way.
        }
    }
    if (!std::getenv("LORVANTA_KEEP_FIXTURES"))
        fs::remove_all(path_, ignored);
}

fs::path ScopedServerFolder::ComDir() const {
    return platform::host::ServerFolder(path_).ComDir();
}

} // namespace testsupport
