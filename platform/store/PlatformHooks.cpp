// Connects the store to the rest of the platform when the platform loads: sinks are created
// through the COM runtime's class registry, and the namespace root can be listed like a folder.

#include "platform/com/Activation.h"
#include "platform/host/FileListing.h"
#include "platform/store/EventService.h"
#include "platform/store/NamespaceRoot.h"

namespace platform::store {

namespace {

const bool hooked = [] {
    SetSinkCreator([](const std::string& progId) {
        return com::CreateInstanceAs<IExStoreSyncEvents>(com::ClassRegistry::FromEnvironment(),
                                                         progId, IID_IExStoreSyncEvents);
    });
    host::RegisterNamespace("\\\\.\\backofficestorage\\",
                            [](const std::string& path) { return ListNamespaceRoot(path); });
    return true;
}();

} // namespace

} // namespace platform::store
