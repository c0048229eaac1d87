#pragma once

// Making texts from outside safe to put inside an LDAP search filter.

#include <string>
#include <string_view>

namespace platform::directory {

// Escapes a text for use as an assertion value inside an LDAP search filter (RFC 4515):
// "*", "(", ")", "\" and NUL become \2A, \28, \29, \5C and \00; bytes outside ASCII are escaped
// the same way, which servers decode back to the same value.
std::string EscapeFilterValue(std::string_view value);

} // namespace platform::directory
