#pragma once

// The stored COM+ catalog of a server folder: <root>/complus/applications.
//
// One text file, readable and writable by its owner only (mode 0600), because it holds the
// applications' passwords. Each application is a block:
//
//   application
//   property<TAB>Name<TAB>text<TAB>Lorvanta
//   property<TAB>ApplicationAccessChecksEnabled<TAB>bool<TAB>false
//   component<TAB>{CLSID}<TAB>ProgID<TAB>ThreadingModel<TAB>server path
//   end
//
// Values escape backslash, tab, carriage return and line feed as \\, \t, \r and \n. Writers take
// an exclusive lock on applications.lock, write a temporary file and rename it into place, so a
// failed write leaves the previous catalog whole and readers never see half a file.

#include "platform/com/ClassRegistry.h"
#include "platform/core/Variant.h"

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform::complus {

struct StoredApplication {
    // In the order they were first written.
    std::vector<std::pair<std::string, Variant>> properties;
    std::vector<com::ClassRegistration> components;

    // The property, or an empty value when the application lacks it.
    Variant Get(const std::string& name) const;
    void Set(const std::string& name, const Variant& value);
    std::string Id() const { return Get("ID").ToText(); }
    std::string Name() const { return Get("Name").ToText(); }

    friend bool operator==(const StoredApplication&, const StoredApplication&) = default;
};

class CatalogFile {
public:
    explicit CatalogFile(std::filesystem::path folder);
    // The catalog of the server folder that EXHOST_ROOT names.
    static CatalogFile FromEnvironment();

    const std::filesystem::path& Folder() const { return folder_; }
    std::filesystem::path File() const { return folder_ / "applications"; }

    // The stored applications in their order; none when the file does not exist. Fails with
    // COMADMIN_E_APP_FILE_READFAIL when the file cannot be read or is damaged.
    std::vector<StoredApplication> Read() const;

    // Reads the applications under the writer lock, lets `change` edit them and stores the result
    // whole. Nothing is stored when `change` throws or the write fails
    // (COMADMIN_E_APP_FILE_WRITEFAIL).
    void Modify(const std::function<void(std::vector<StoredApplication>&)>& change) const;

private:
    std::filesystem::path folder_;
};

} // namespace platform::complus
