// Loads in-process servers with dlopen, once per path for the life of the process, and finds their
// entry points.

#include "platform/com/ServerModule.h"

#include "platform/core/Error.h"

#include <dlfcn.h>
#include <map>
#include <mutex>

namespace platform::com {

namespace fs = std::filesystem;

namespace {

struct LoadedServers {
    std::mutex mutex;
    std::map<fs::path, void*> handles;
};

LoadedServers& Loaded() {
    static LoadedServers servers;
    return servers;
}

std::string LoaderReason() {
    const char* reason = ::dlerror();
    return reason ? reason : "unknown reason";
}

} // namespace

ServerModule ServerModule::Load(const fs::path& path) {
    auto& loaded = Loaded();
    // One lock for the map and dlopen, so that two threads never load one path at the same time.
    std::lock_guard lock(loaded.mutex);
    if (auto found = loaded.handles.find(path); found != loaded.handles.end())
        return ServerModule(path, found->second);
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw Error(hr::ERROR_MOD_NOT_FOUND,
                    "Cannot load the in-process server " + path.string() + ": " + LoaderReason());
    loaded.handles.emplace(path, handle);
    return ServerModule(path, handle);
}

void* ServerModule::Entry(const char* name) const {
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (!address)
        throw Error(hr::ERROR_PROC_NOT_FOUND, "The in-process server " + path_.string() +
                                                  " does not export " + name + ": " +
                                                  LoaderReason());
    return address;
}

fs::path ModulePathContaining(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        throw Error(hr::E_FAIL, "No loaded module holds the address asked about");
    std::error_code error;
    auto path = fs::canonical(info.dli_fname, error);
    return error ? fs::absolute(info.dli_fname) : path;
}

} // namespace platform::com
