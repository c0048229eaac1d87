#include "platform/core/Moniker.h"

#include <unicode/uchar.h>

#include <map>
#include <mutex>

namespace platform {

namespace {

constexpr std::int32_t MK_E_SYNTAX = hr::Code(0x800401E4);

std::string Key(const std::string& prefix) {
    std::string key = prefix;
    for (auto& c : key)
        c = static_cast<char>(u_tolower(static_cast<unsigned char>(c)));
    return key;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, MonikerHandler> handlers;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

void RegisterMonikerHandler(const std::string& prefix, MonikerHandler handler) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.handlers[Key(prefix)] = std::move(handler);
}

void UnregisterMonikerHandler(const std::string& prefix) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.handlers.erase(Key(prefix));
}

std::shared_ptr<Object> GetObject(const std::string& path) {
    // The prefix runs up to and including the first ':'.
    const auto colon = path.find(':');
    MonikerHandler handler;
    if (colon != std::string::npos) {
        auto& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.handlers.find(Key(path.substr(0, colon + 1)));
        if (found != registry.handlers.end())
            handler = found->second;
    }
    if (!handler)
        throw Error(MK_E_SYNTAX, "Cannot bind \"" + path + "\": no handler for its prefix");
    auto object = handler(path);
    if (!object)
        throw Error(hr::E_FAIL, "Cannot bind \"" + path + "\": the handler gave no object");
    return object;
}

ScopedMonikerHandler::ScopedMonikerHandler(const std::string& prefix, MonikerHandler handler)
    : prefix_(prefix) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto& slot = registry.handlers[Key(prefix)];
    hadPrevious_ = static_cast<bool>(slot);
    previous_ = std::move(slot);
    slot = std::move(handler);
}

ScopedMonikerHandler::~ScopedMonikerHandler() {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (hadPrevious_)
        registry.handlers[Key(prefix_)] = std::move(previous_);
    else
        registry.handlers.erase(Key(prefix_));
}

} // namespace platform
