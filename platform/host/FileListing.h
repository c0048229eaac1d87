#pragma once

// Listing a folder the way a script's Dir does, for real folders and for the namespaces that
// platform components publish as folders (the store's "\\.\backofficestorage\").

#include <functional>
#include <string>
#include <vector>

namespace platform::host {

using NamespaceLister = std::function<std::vector<std::string>(const std::string& path)>;

// Paths that begin with `prefix` (letter case ignored) are listed by `lister`.
void RegisterNamespace(const std::string& prefix, NamespaceLister lister);
void UnregisterNamespace(const std::string& prefix);

// The names in a folder, directories included, in the order the source gives them; "." and ".."
// are left out. Fails with the platform's path-not-found number when the folder cannot be read.
std::vector<std::string> ListFolder(const std::string& path);

// For tests: a lister that takes precedence for its lifetime.
class ScopedNamespace {
public:
    ScopedNamespace(const std::string& prefix, NamespaceLister lister);
    ~ScopedNamespace();
    ScopedNamespace(const ScopedNamespace&) = delete;
    ScopedNamespace& operator=(const ScopedNamespace&) = delete;

private:
    std::string prefix_;
    bool hadPrevious_ = false;
    NamespaceLister previous_;
};

} // namespace platform::host
