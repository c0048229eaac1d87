// Lists the store's namespace root as a folder of domain folder names, for Dir on
// "\\.\backofficestorage\".

#include "platform/store/NamespaceRoot.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/Store.h"

namespace platform::store {

namespace {

constexpr std::int32_t ERROR_PATH_NOT_FOUND = platform::hr::Code(0x80070003);

void RequireRoot(const std::string& path) {
    std::string_view root = path;
    if (!root.empty() && root.back() == '\\')
        root.remove_suffix(1);
    if (!text::EqualsIgnoreCase(root, "\\\\.\\backofficestorage"))
        throw Error(ERROR_PATH_NOT_FOUND,
                    "\"" + path +
                        "\" is not the store's namespace root \\\\.\\backofficestorage\\");
}

} // namespace

std::vector<std::string> ListNamespaceRoot(Store& store, const std::string& path) {
    RequireRoot(path);
    return store.DomainFolders();
}

std::vector<std::string> ListNamespaceRoot(const std::string& path) {
    RequireRoot(path);
    return Store::OpenFromEnvironment()->DomainFolders();
}

} // namespace platform::store
