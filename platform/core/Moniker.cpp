// Binding by path: looks up the handler registered for the path's prefix and hands it the path.

#include "platform/core/Moniker.h"

namespace platform {

namespace {

constexpr std::int32_t MK_E_SYNTAX = hr::Code(0x800401E4);

NamedRegistry<MonikerHandler>& Handlers() {
    static NamedRegistry<MonikerHandler> handlers;
    return handlers;
}

} // namespace

void RegisterMonikerHandler(const std::string& prefix, MonikerHandler handler) {
    Handlers().Set(prefix, std::move(handler));
}

void UnregisterMonikerHandler(const std::string& prefix) {
    Handlers().Erase(prefix);
}

std::shared_ptr<Object> GetObject(const std::string& path) {
    // The prefix runs up to and including the first ':'.
    const auto colon = path.find(':');
    MonikerHandler handler;
    if (colon != std::string::npos)
        handler = Handlers().Find(path.substr(0, colon + 1)).value_or(nullptr);
    if (!handler)
        throw Error(MK_E_SYNTAX, "Cannot bind \"" + path + "\": no handler for its prefix");
    auto object = handler(path);
    if (!object)
        throw Error(hr::E_FAIL, "Cannot bind \"" + path + "\": the handler gave no object");
    return object;
}

ScopedMonikerHandler::ScopedMonikerHandler(const std::string& prefix, MonikerHandler handler)
    : entry_(Handlers(), prefix, std::move(handler)) {
}

ScopedMonikerHandler::~ScopedMonikerHandler() = default;

} // namespace platform
