#pragma once

// Binding an object by its path, the way a script's GetObject does: the path's moniker prefix
// ("LDAP:", "GC:", ...) picks the handler that knows how to bind it. The directory registers its
// handlers when the platform loads; tests put doubles in their place with ScopedMonikerHandler.

#include "platform/core/ObjectFactory.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Binds the whole path (prefix included) to an object; fails the way the binding fails.
using MonikerHandler = std::function<std::shared_ptr<Object>(const std::string& path)>;

// Makes paths that begin with `prefix` (e.g. "LDAP:", letter case ignored) bindable. A later
// registration of the same prefix replaces the earlier one.
void RegisterMonikerHandler(const std::string& prefix, MonikerHandler handler);
void UnregisterMonikerHandler(const std::string& prefix);

// Binds a path. Fails with MK_E_SYNTAX (0x800401E4) when no handler
// knows its prefix.
std::shared_ptr<Object> GetObject(const std::string& path);

// Binds a path and checks that the object offers interface T (E_NOINTERFACE otherwise).
template <class T> std::shared_ptr<T> GetObjectAs(const std::string& path) {
    return AsInterface<T>(GetObject(path), "bound for \"" + path + "\"");
}

// For tests: a handler that takes precedence for its lifetime; the previous one comes back on
// destruction. Scopes nest.
class ScopedMonikerHandler {
public:
    ScopedMonikerHandler(const std::string& prefix, MonikerHandler handler);
    ~ScopedMonikerHandler();
    ScopedMonikerHandler(const ScopedMonikerHandler&) = delete;
    ScopedMonikerHandler& operator=(const ScopedMonikerHandler&) = delete;

private:
    ScopedEntry<MonikerHandler> entry_;
};

} // namespace platform
