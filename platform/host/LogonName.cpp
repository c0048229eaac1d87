// Finds the logon name of the user running the program, unless a test has set one.

#include "platform/host/LogonName.h"

#include <mutex>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform::host {

namespace {

struct Override {
    std::mutex mutex;
    std::optional<std::string> name;
};

Override& TheOverride() {
    static Override value;
    return value;
}

} // namespace

std::string LogonUserName() {
    {
        auto& override = TheOverride();
        std::lock_guard lock(override.mutex);
        if (override.name)
            return *override.name;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return found->pw_name;
}

ScopedLogonName::ScopedLogonName(std::string name) {
    auto& override = TheOverride();
    std::lock_guard lock(override.mutex);
    override.name = std::move(name);
}

ScopedLogonName::~ScopedLogonName() {
    auto& override = TheOverride();
    std::lock_guard lock(override.mutex);
    override.name.reset();
}

} // namespace platform::host
