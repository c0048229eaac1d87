#pragma once

// GUIDs in the registry's text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include "platform/com/Com.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::com {

// The registry form, upper-case hex digits, with braces.
std::string FormatGuid(const GUID& guid);

// Reads the registry form: braces required, 32 hex digits of either case in groups of 8-4-4-4-12,
// nothing before or after. Anything else gives no value.
std::optional<GUID> ParseGuid(std::string_view text);

} // namespace platform::com
