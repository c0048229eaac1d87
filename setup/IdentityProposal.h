#pragma once

// The identity proposed for the COM+ application: the running user's account, prefixed by the
// domain its directory entry names.

#include <string>

namespace lorvanta::setup {

// The logon name of the user the program runs as.
std::string GetLogonUserName();
// The identity proposed for an account whose directory class has the DN `category`.
std::string IdentityFromCategory(const std::string& category, const std::string& logonName);
// The directory query for the running user's account.
std::string AccountQuery(const std::string& searchRoot, const std::string& logonName);

} // namespace lorvanta::setup
