#pragma once

// The catalog of a given server folder, for tools that name the folder themselves. Scripts create
// it by ProgID ("COMAdmin.COMAdminCatalog"), which opens the folder that EXHOST_ROOT names.

#include "platform/complus/Catalog.h"
#include "platform/host/ServerFolder.h"

#include <memory>

namespace platform::complus {

std::shared_ptr<ComAdminCatalog> OpenCatalog(const host::ServerFolder& folder);

} // namespace platform::complus
