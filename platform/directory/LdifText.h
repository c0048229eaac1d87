#pragma once

// Lines of LDIF (RFC 2849) as OpenLDAP's LDIF writer forms them, for the files the platform hands
// to slapadd and ldapadd.

#include <string>
#include <string_view>

namespace platform::directory {

// Appends "name: value" and a line break, or "name:: <base64>" when the value is not a
// SAFE-STRING (a byte beyond ASCII or a control byte, a leading space, ':' or '<', a trailing
// space) or the attribute is one OpenLDAP always encodes (userPassword). Lines are not folded,
// however long.
void AppendLdifLine(std::string& out, std::string_view name, std::string_view value);

} // namespace platform::directory
