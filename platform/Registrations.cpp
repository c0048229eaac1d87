// Everything the platform makes available by name, in one table: the objects the system's code
// creates by ProgID, the data providers ADO connections open, the path prefixes the object
// binding and the file listing understand, and how the store creates event sinks. Loading the
// platform library registers all of it; nothing else registers anything at load time.

#include "platform/com/Activation.h"
#include "platform/complus/Catalog.h"
#include "platform/complus/CatalogObjects.h"
#include "platform/core/AdoObjects.h"
#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Provider.h"
#include "platform/directory/Ads.h"
#include "platform/directory/DirectorySession.h"
#include "platform/directory/SystemInfo.h"
#include "platform/host/FileListing.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/EventService.h"
#include "platform/store/ExOleDbProvider.h"
#include "platform/store/NamespaceRoot.h"

namespace platform {

namespace {

struct ObjectEntry {
    const char* progId;
    ObjectFactory create;
};

struct ProviderEntry {
    const char* name;
    ado::ProviderFactory open;
};

struct MonikerEntry {
    const char* prefix;
    MonikerHandler bind;
};

struct NamespaceEntry {
    const char* prefix;
    host::NamespaceLister list;
};

std::shared_ptr<Object> BindDirectoryPath(const std::string& path) {
    return directory::BindDirectoryObject(path);
}

const bool registered = [] {
    const ObjectEntry objects[] = {
        {"ADODB.Connection", ado::NewConnection},
        {"ADODB.Record", ado::NewRecord},
        {"ADODB.Recordset", ado::NewRecordset},
        {"ADODB.Command", ado::NewCommand},
        {"ADSystemInfo", directory::MakeADSystemInfo},
        {"WinNTSystemInfo", directory::MakeWinNTSystemInfo},
        {complus::kCatalogProgId,
         [] { return complus::OpenCatalog(host::ServerFolder::FromEnvironment()); }},
    };
    const ProviderEntry providers[] = {
        {"ExOLEDB.DataSource", store::OpenStoreSession},
        {"ADSDSOObject",
         [](const std::string& connectionString, const std::string&, const std::string&) {
             return std::make_unique<directory::DirectorySession>(connectionString);
         }},
    };
    const MonikerEntry monikers[] = {
        {"LDAP:", BindDirectoryPath},
        {"GC:", BindDirectoryPath},
    };
    const NamespaceEntry namespaces[] = {
        {"\\\\.\\backofficestorage\\",
         [](const std::string& path) { return store::ListNamespaceRoot(path); }},
    };

    for (const auto& entry : objects)
        RegisterObjectFactory(entry.progId, entry.create);
    for (const auto& entry : providers)
        ado::RegisterProvider(entry.name, entry.open);
    for (const auto& entry : monikers)
        RegisterMonikerHandler(entry.prefix, entry.bind);
    for (const auto& entry : namespaces)
        host::RegisterNamespace(entry.prefix, entry.list);

    // Event sinks are in-process servers found through the class registry.
    store::SetSinkCreator([](const std::string& progId) {
        return com::CreateInstanceAs<store::IExStoreSyncEvents>(
            com::ClassRegistry::FromEnvironment(), progId, store::IID_IExStoreSyncEvents);
    });
    return true;
}();

} // namespace

} // namespace platform
