#pragma once

// Loading in-process servers. A server once loaded stays loaded for the life of the process, as
// servers whose DllCanUnloadNow never agrees do; handles are cached per path.

#include "platform/com/Com.h"

#include <filesystem>
#include <string>

namespace platform::com {

// The entry points of an in-process server, with C linkage.
using DllGetClassObjectProc = HRESULT (*)(const CLSID& rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowProc = HRESULT (*)();
using DllRegisterServerProc = HRESULT (*)();
using DllUnregisterServerProc = HRESULT (*)();

class ServerModule {
public:
    // Loads the server (RTLD_NOW | RTLD_LOCAL) or returns the one already loaded from that path.
    // Fails with ERROR_MOD_NOT_FOUND, naming the path and the loader's reason. Thread-safe.
    static ServerModule Load(const std::filesystem::path& path);

    // The address of an exported function; fails with ERROR_PROC_NOT_FOUND naming it and the path.
    void* Entry(const char* name) const;

    const std::filesystem::path& Path() const { return path_; }

private:
    ServerModule(std::filesystem::path path, void* handle)
        : path_(std::move(path)), handle_(handle) {}

    std::filesystem::path path_;
    void* handle_;
};

// The path of the loaded module (program or shared library) that holds `address`, absolute.
// In-process servers use it to register themselves. Fails with E_FAIL when no module does.
std::filesystem::path ModulePathContaining(const void* address);

} // namespace platform::com
