// Lists real folders, or hands the path to the namespace registered for its prefix, as Dir does on
// the real platform.

#include "platform/host/FileListing.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

namespace platform::host {

namespace {

constexpr std::int32_t ERROR_PATH_NOT_FOUND = hr::Code(0x80070003);

struct Namespaces {
    std::mutex mutex;
    std::vector<std::pair<std::string, NamespaceLister>> listers;

    auto Find(const std::string& prefix) {
        return std::find_if(listers.begin(), listers.end(), [&](const auto& entry) {
            return text::EqualsIgnoreCase(entry.first, prefix);
        });
    }
};

Namespaces& TheNamespaces() {
    static Namespaces namespaces;
    return namespaces;
}

} // namespace

void RegisterNamespace(const std::string& prefix, NamespaceLister lister) {
    auto& namespaces = TheNamespaces();
    std::lock_guard lock(namespaces.mutex);
    auto found = namespaces.Find(prefix);
    if (found != namespaces.listers.end())
        found->second = std::move(lister);
    else
        namespaces.listers.emplace_back(prefix, std::move(lister));
}

void UnregisterNamespace(const std::string& prefix) {
    auto& namespaces = TheNamespaces();
    std::lock_guard lock(namespaces.mutex);
    auto found = namespaces.Find(prefix);
    if (found != namespaces.listers.end())
        namespaces.listers.erase(found);
}

std::vector<std::string> ListFolder(const std::string& path) {
    NamespaceLister lister;
    {
        auto& namespaces = TheNamespaces();
        std::lock_guard lock(namespaces.mutex);
        for (const auto& [prefix, candidate] : namespaces.listers) {
            if (text::MatchPrefixIgnoreCase(path, prefix)) {
                lister = candidate;
                break;
            }
        }
    }
    if (lister)
        return lister(path);

    std::error_code error;
    std::filesystem::directory_iterator entries(path, error);
    if (error)
        throw Error(ERROR_PATH_NOT_FOUND, "Path not found: " + path + " (" + error.message() + ")");
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.path().filename().string());
    return names;
}

ScopedNamespace::ScopedNamespace(const std::string& prefix, NamespaceLister lister)
    : prefix_(prefix) {
    auto& namespaces = TheNamespaces();
    std::lock_guard lock(namespaces.mutex);
    auto found = namespaces.Find(prefix);
    if (found != namespaces.listers.end()) {
        hadPrevious_ = true;
        previous_ = std::move(found->second);
        found->second = std::move(lister);
    } else {
        namespaces.listers.emplace_back(prefix, std::move(lister));
    }
}

ScopedNamespace::~ScopedNamespace() {
    if (hadPrevious_)
        RegisterNamespace(prefix_, std::move(previous_));
    else
        UnregisterNamespace(prefix_);
}

} // namespace platform::host
