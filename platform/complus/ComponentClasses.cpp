// Finds out which classes a DLL holds by running its self-registration against a scratch class
// registry that is thrown away afterwards.

#include "platform/complus/ComponentClasses.h"

#include "platform/com/ServerModule.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/core/Error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform::complus {

namespace fs = std::filesystem;

namespace {

// A private folder under the temporary directory, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "lorvanta-complus-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw Error(hr::E_FAIL, std::string("Cannot create a scratch class registry: ") +
                                        std::strerror(errno));
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

} // namespace

std::vector<com::ClassRegistration> LearnServerClasses(const fs::path& dll) {
    std::error_code error;
    if (dll.empty() || !fs::is_regular_file(dll, error))
        throw Error(hr::COMADMIN_E_COMPFILE_DOESNOTEXIST,
                    "The component file \"" + dll.string() + "\" does not exist");
    const auto path = fs::absolute(dll, error);

    std::optional<com::ServerModule> module;
    try {
        module = com::ServerModule::Load(path);
    } catch (const Error& failure) {
        throw Error(hr::COMADMIN_E_COMPFILE_LOADDLLFAIL,
                    "The component file \"" + dll.string() +
                        "\" cannot be loaded: " + failure.Description());
    }
    com::DllRegisterServerProc registerServer = nullptr;
    try {
        registerServer =
            reinterpret_cast<com::DllRegisterServerProc>(module->Entry("DllRegisterServer"));
    } catch (const Error&) {
        throw Error(hr::COMADMIN_E_COMPFILE_NOREGISTRAR,
                    "The component file \"" + dll.string() + "\" has no DllRegisterServer");
    }

    ScratchFolder scratch;
    com::HRESULT result = com::E_FAIL;
    {
        com::ScopedRegistryOverride redirect(scratch.Path());
        result = registerServer();
    }
    if (com::FAILED(result))
        throw Error(hr::COMADMIN_E_DLLREGISTERSERVER, "DllRegisterServer of \"" + dll.string() +
                                                          "\" failed with " +
                                                          FailureNumberText(result));
    auto classes = com::ClassRegistry(scratch.Path()).List();
    if (classes.empty())
        throw Error(hr::COMADMIN_E_COMPFILE_NOTINSTALLABLE,
                    "The component file \"" + dll.string() + "\" registers no class");
    return classes;
}

} // namespace platform::complus
