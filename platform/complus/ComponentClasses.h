#pragma once

// Learning which classes an in-process server holds, through its own registration entry point.

#include "platform/com/ClassRegistry.h"

#include <filesystem>
#include <vector>

namespace platform::complus {

// Loads the DLL and runs its DllRegisterServer against a scratch class registry (the server's
// own registration is redirected there on this thread), and returns what it registered. Fails
// with COMADMIN_E_COMPFILE_DOESNOTEXIST, COMADMIN_E_COMPFILE_LOADDLLFAIL,
// COMADMIN_E_COMPFILE_NOREGISTRAR, COMADMIN_E_DLLREGISTERSERVER or, when it registers no class,
// COMADMIN_E_COMPFILE_NOTINSTALLABLE, each naming the file.
std::vector<com::ClassRegistration> LearnServerClasses(const std::filesystem::path& dll);

} // namespace platform::complus
