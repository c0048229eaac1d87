#pragma once

// Turning LDAP result codes into the platform's failures.

#include "platform/core/Error.h"

#include <string>

namespace platform::directory {

namespace hr_ds {
constexpr std::int32_t ERROR_DS_TIMELIMIT_EXCEEDED = hr::Code(0x80072022);
constexpr std::int32_t ERROR_DS_OPERATIONS_ERROR = hr::Code(0x80072020);
constexpr std::int32_t ERROR_DS_INVALID_DN_SYNTAX = hr::Code(0x80072032);
} // namespace hr_ds

// The failure for an LDAP result code; `what` says what was attempted ("Searching ... on ...").
Error LdapFailure(int ldapCode, const std::string& what, const std::string& serverMessage = {});

} // namespace platform::directory
