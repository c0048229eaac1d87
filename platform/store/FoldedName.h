#pragma once

// How the store makes names match without regard to letter case, in any script.

#include <string>
#include <string_view>

namespace platform::store {

// The key under which the store files a name: Unicode case folding, so that folder, item,
// mailbox and domain folder names compare without regard to letter case.
std::string FoldedName(std::string_view name);

} // namespace platform::store
