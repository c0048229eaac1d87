// The four entry points of Lorvanta.dll. They are the only symbols the library exports, and no
// exception leaves them.

#include "platform/com/ClassRegistry.h"
#include "platform/com/ServerModule.h"
#include "platform/core/Error.h"
#include "sink/LorvantaCls.h"

#include <new>

namespace com = platform::com;

#define LORVANTA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// What a failed self-registration reports: the platform's number, or the generic one.
com::HRESULT RegistrationFailure(std::int32_t number) {
    return com::FAILED(number) ? number : com::SELFREG_E_CLASS;
}

} // namespace

LORVANTA_EXPORT com::HRESULT DllGetClassObject(const com::CLSID& rclsid, com::REFIID riid,
                                               void** ppv) {
    if (!ppv)
        return com::E_POINTER;
    *ppv = nullptr;
    if (rclsid != lorvanta::CLSID_LorvantaCls)
        return com::CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) lorvanta::LorvantaClsFactory();
    if (!factory)
        return com::E_OUTOFMEMORY;
    const auto hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

// Once loaded the server stays loaded.
LORVANTA_EXPORT com::HRESULT DllCanUnloadNow() {
    return com::S_FALSE;
}

// Registers the class in the class registry of the server folder that EXHOST_ROOT names, with
// this library's own path as its server.
LORVANTA_EXPORT com::HRESULT DllRegisterServer() {
    try {
        const auto self =
            com::ModulePathContaining(reinterpret_cast<const void*>(&DllRegisterServer));
        com::ClassRegistry::FromEnvironment().Register(
            {lorvanta::CLSID_LorvantaCls, lorvanta::kProgId, lorvanta::kThreadingModel, self});
        return com::S_OK;
    } catch (const platform::Error& error) {
        return RegistrationFailure(error.Number());
    } catch (...) {
        return com::SELFREG_E_CLASS;
    }
}

LORVANTA_EXPORT com::HRESULT DllUnregisterServer() {
    try {
        // A class that is not registered is already as it should be.
        com::ClassRegistry::FromEnvironment().Unregister(lorvanta::CLSID_LorvantaCls);
        return com::S_OK;
    } catch (const platform::Error& error) {
        return RegistrationFailure(error.Number());
    } catch (...) {
        return com::SELFREG_E_CLASS;
    }
}
