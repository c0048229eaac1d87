#pragma once

// A directory search as both query dialects describe it, and the LDAP dialect's parser.

#include "platform/directory/DirectoryPath.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::directory {

// The same values as ADSI's ADS_SCOPE and LDAP's scopes.
enum class SearchScope { Base = 0, OneLevel = 1, Subtree = 2 };

struct DirectoryQuery {
    DirectoryPath root;
    std::string filter;
    // As the query spells them; rows carry the fields in this order and spelling.
    std::vector<std::string> attributes;
    SearchScope scope = SearchScope::Subtree;
    // Empty: the server's order.
    std::string orderBy;
    bool descending = false;
};

// "<LDAP://name[/base DN]>;filter;attributes[;scope]" with scope "base", "onelevel" or
// "subtree" (the default). The filter is taken as written; it may itself hold ";".
// Fails with DB_E_ERRORSINCOMMAND when the text has not this shape.
DirectoryQuery ParseLdapDialect(std::string_view text);

// True when the text starts like the LDAP dialect (a "<" after leading blanks).
bool IsLdapDialect(std::string_view text);

} // namespace platform::directory
