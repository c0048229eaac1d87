#pragma once

// How a new COM+ application for a sink is set up: the same for the setup program and the
// server's admin tool.

#include "platform/complus/Catalog.h"

#include <string>

namespace platform::complus {

// Names the application and turns its access checks off; the identity and password are set only
// when both are non-blank (blanks trimmed), otherwise the catalog's default identity stays.
void SetUpNewApplication(CatalogObject& application, const std::string& name,
                         const std::string& identity, const std::string& password);

} // namespace platform::complus
