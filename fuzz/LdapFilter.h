#pragma once

#include <string>

namespace fuzz {

// Whether OpenLDAP's client library can encode the text as a search filter (RFC 4515).
bool IsValidLdapFilter(const std::string& filter);

} // namespace fuzz
