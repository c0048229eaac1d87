#pragma once

// LIST's mailbox patterns (RFC 3501 section 6.3.8).

#include <string_view>

namespace server::imap {

// Whether the name matches the pattern: "*" matches anything, "%" anything but the hierarchy
// delimiter, every other character itself.
bool MatchesPattern(std::string_view name, std::string_view pattern, char delimiter);

} // namespace server::imap
