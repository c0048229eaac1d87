#pragma once

// The store's namespace root, "\\.\backofficestorage\", as a folder that can be listed.

#include <string>
#include <vector>

namespace platform::store {

class Store;

// The store's file-system namespace root "\\.\backofficestorage\" (letter case and the final
// backslash do not matter): the domain folder names, the first created first.
std::vector<std::string> ListNamespaceRoot(Store& store, const std::string& path);
// The same for the store of the server folder that EXHOST_ROOT names.
std::vector<std::string> ListNamespaceRoot(const std::string& path);

} // namespace platform::store
