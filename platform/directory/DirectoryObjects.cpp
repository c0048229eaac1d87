// Loading the platform makes the directory reachable the way the system's code asks for it: the
// provider "ADSDSOObject", the system information objects and the "LDAP:" and "GC:" monikers.

#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Provider.h"
#include "platform/directory/Ads.h"
#include "platform/directory/DirectorySession.h"
#include "platform/directory/SystemInfo.h"

namespace platform::directory {

namespace {

const bool registered = [] {
    ado::RegisterProvider("ADSDSOObject", [](const std::string& connectionString,
                                             const std::string&, const std::string&) {
        return std::make_unique<DirectorySession>(connectionString);
    });
    RegisterObjectFactory("ADSystemInfo", [] { return MakeADSystemInfo(); });
    RegisterObjectFactory("WinNTSystemInfo", [] { return MakeWinNTSystemInfo(); });
    for (const char* prefix : {"LDAP:", "GC:"})
        RegisterMonikerHandler(prefix, [](const std::string& path) -> std::shared_ptr<Object> {
            return BindDirectoryObject(path);
        });
    return true;
}();

} // namespace

} // namespace platform::directory
