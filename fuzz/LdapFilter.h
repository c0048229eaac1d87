#pragma once

// The fuzz targets' judge of a well-formed LDAP filter: OpenLDAP's own encoder.

#include <string>

namespace fuzz {

// Whether OpenLDAP's client library can encode the text as a search filter (RFC 4515).
bool IsValidLdapFilter(const std::string& filter);

} // namespace fuzz
