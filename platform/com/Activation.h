#pragma once

// Creating objects of registered in-process servers, and running a server's self-registration.

#include "platform/com/ClassRegistry.h"
#include "platform/com/Com.h"

#include <filesystem>
#include <string>

namespace platform::com {

// The CLSID registered for a ProgID. Fails with CO_E_CLASSSTRING when the text is not a valid
// ProgID and REGDB_E_CLASSNOTREG when no class has it.
CLSID ClassIdFromProgId(const ClassRegistry& registry, const std::string& progId);

// A CLSID in registry form ("{...}") or a registered ProgID. Fails with CO_E_CLASSSTRING for a
// malformed text and REGDB_E_CLASSNOTREG for an unknown ProgID.
CLSID ClassIdFromText(const ClassRegistry& registry, const std::string& text);

// Creates an instance of a registered class and returns its interface `iid` (one reference):
// loads the server, asks its DllGetClassObject for the class factory and the factory for the
// instance. Fails with REGDB_E_CLASSNOTREG, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
// E_NOINTERFACE or what the server returned, with a description naming the class.
ComPtr<IUnknown> CreateInstance(const ClassRegistry& registry, const CLSID& clsid, REFIID iid);

// The same by CLSID text or ProgID.
ComPtr<IUnknown> CreateInstance(const ClassRegistry& registry, const std::string& classText,
                                REFIID iid);

// Typed form: `iid` must be the identifier of T.
template <class T>
ComPtr<T> CreateInstanceAs(const ClassRegistry& registry, const std::string& classText,
                           REFIID iid) {
    return ComPtr<T>::Attach(static_cast<T*>(CreateInstance(registry, classText, iid).Detach()));
}

// Calls the server's DllRegisterServer / DllUnregisterServer, as a registration tool does.
// Fails with ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND or the failure the server returned.
void RegisterServer(const std::filesystem::path& server);
void UnregisterServer(const std::filesystem::path& server);

} // namespace platform::com
