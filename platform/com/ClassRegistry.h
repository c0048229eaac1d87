#pragma once

// The class registry of the server folder (<root>/com/): which in-process server implements a
// class, under which ProgID, and with which threading model.
//
// Stored as one text file, <root>/com/classes, one class per line with four fields separated by
// tabs: CLSID in registry form, ProgID, threading model, the server's path. Lines starting with
// '#' are comments. Writers take an exclusive lock on <root>/com/classes.lock, write a temporary
// file and rename it over the old one, so readers (which take no lock) always see a whole file.

#include "platform/com/Com.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::com {

struct ClassRegistration {
    CLSID clsid{};
    std::string progId;
    std::string threadingModel; // "Apartment", "Free", "Both" or "Neutral"
    std::filesystem::path server;
    friend bool operator==(const ClassRegistration&, const ClassRegistration&) = default;
};

// A ProgID as the platform accepts it: 1 to 39 characters, letters, digits and periods, not
// starting with a digit or a period.
bool IsValidProgId(std::string_view progId);

class ClassRegistry {
public:
    explicit ClassRegistry(std::filesystem::path folder);
    // The registry of the server folder that EXHOST_ROOT names.
    static ClassRegistry FromEnvironment();

    const std::filesystem::path& Folder() const { return folder_; }
    std::filesystem::path File() const { return folder_ / "classes"; }

    // Records a class, replacing any entry with the same CLSID or the same ProgID. Fails with
    // CO_E_CLASSSTRING for an invalid ProgID and E_INVALIDARG for fields that cannot be stored.
    void Register(const ClassRegistration& registration) const;
    // Removes the class; false when it was not registered.
    bool Unregister(const CLSID& clsid) const;

    std::optional<ClassRegistration> FindByClassId(const CLSID& clsid) const;
    // ProgIDs compare without regard to letter case.
    std::optional<ClassRegistration> FindByProgId(std::string_view progId) const;
    std::vector<ClassRegistration> List() const;

private:
    std::filesystem::path folder_;
};

// While it lives, FromEnvironment() on this thread names `folder` instead of the server folder's
// registry, the way a registry key override captures what a server's self-registration writes.
// Scopes nest; other threads are not affected.
class ScopedRegistryOverride {
public:
    explicit ScopedRegistryOverride(std::filesystem::path folder);
    ~ScopedRegistryOverride();
    ScopedRegistryOverride(const ScopedRegistryOverride&) = delete;
    ScopedRegistryOverride& operator=(const ScopedRegistryOverride&) = delete;

private:
    std::optional<std::filesystem::path> previous_;
};

} // namespace platform::com
