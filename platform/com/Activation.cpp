// Turns ProgIDs and CLSIDs into live objects through the class registry and the servers'
// DllGetClassObject, and runs a server's DllRegisterServer or DllUnregisterServer.

#include "platform/com/Activation.h"

#include "platform/com/Guid.h"
#include "platform/com/ServerModule.h"
#include "platform/core/Error.h"

namespace platform::com {

namespace {

std::string Describe(const ClassRegistration& registration) {
    return registration.progId + " " + FormatGuid(registration.clsid);
}

void CallRegistrationEntry(const std::filesystem::path& server, const char* entryName) {
    const auto module = ServerModule::Load(server);
    const auto entry = reinterpret_cast<DllRegisterServerProc>(module.Entry(entryName));
    const HRESULT hr = entry();
    if (FAILED(hr))
        throw Error(hr, std::string(entryName) + " of " + server.string() + " failed with " +
                            FailureNumberText(hr));
}

} // namespace

CLSID ClassIdFromProgId(const ClassRegistry& registry, const std::string& progId) {
    if (!IsValidProgId(progId))
        throw Error(hr::CO_E_CLASSSTRING, "\"" + progId + "\" is not a valid ProgID");
    const auto registration = registry.FindByProgId(progId);
    if (!registration)
        throw Error(hr::REGDB_E_CLASSNOTREG, "Class \"" + progId + "\" is not registered");
    return registration->clsid;
}

CLSID ClassIdFromText(const ClassRegistry& registry, const std::string& text) {
    if (!text.empty() && text.front() == '{') {
        if (auto clsid = ParseGuid(text))
            return *clsid;
        throw Error(hr::CO_E_CLASSSTRING, "\"" + text + "\" is not a valid class identifier");
    }
    return ClassIdFromProgId(registry, text);
}

ComPtr<IUnknown> CreateInstance(const ClassRegistry& registry, const CLSID& clsid, REFIID iid) {
    const auto registration = registry.FindByClassId(clsid);
    if (!registration)
        throw Error(hr::REGDB_E_CLASSNOTREG, "Class " + FormatGuid(clsid) + " is not registered");
    const auto module = ServerModule::Load(registration->server);
    const auto getClassObject =
        reinterpret_cast<DllGetClassObjectProc>(module.Entry("DllGetClassObject"));

    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()));
    if (FAILED(hr) || !factory)
        throw Error(FAILED(hr) ? hr : hr::E_POINTER,
                    "The server " + registration->server.string() + " gave no class factory for " +
                        Describe(*registration) + " (" + FailureNumberText(hr) + ")");

    ComPtr<IUnknown> instance;
    hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(instance.Put()));
    if (hr == E_NOINTERFACE)
        throw Error(hr, "Class " + Describe(*registration) + " does not offer the interface " +
                            FormatGuid(iid));
    if (FAILED(hr) || !instance)
        throw Error(FAILED(hr) ? hr : hr::E_POINTER, "Cannot create an instance of " +
                                                         Describe(*registration) + " (" +
                                                         FailureNumberText(hr) + ")");
    return instance;
}

ComPtr<IUnknown> CreateInstance(const ClassRegistry& registry, const std::string& classText,
                                REFIID iid) {
    return CreateInstance(registry, ClassIdFromText(registry, classText), iid);
}

void RegisterServer(const std::filesystem::path& server) {
    CallRegistrationEntry(server, "DllRegisterServer");
}

void UnregisterServer(const std::filesystem::path& server) {
    CallRegistrationEntry(server, "DllUnregisterServer");
}

} // namespace platform::com
