#include "tests/unit/com/TempServerFolder.h"

#include "platform/host/ServerFolder.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace comtest {

namespace fs = std::filesystem;

TempServerFolder::TempServerFolder() {
    std::string pattern = (fs::temp_directory_path() / "lorvanta-com-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary server folder");
    root_ = pattern;
    if (const char* previous = std::getenv(platform::host::kRootVariable))
        previousRoot_ = previous;
    ::setenv(platform::host::kRootVariable, root_.c_str(), 1);
}

TempServerFolder::~TempServerFolder() {
    if (previousRoot_)
        ::setenv(platform::host::kRootVariable, previousRoot_->c_str(), 1);
    else
        ::unsetenv(platform::host::kRootVariable);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

} // namespace comtest
