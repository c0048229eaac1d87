#pragma once

// Facts that a server publishes in its root DSE.

#include <string>

namespace platform::directory {

class LdapConnection;

// The partition searched when a path names a server but no DN: "defaultNamingContext", else
// "rootDomainNamingContext", else the first of "namingContexts". Fails with
// ERROR_DS_NO_SUCH_OBJECT when the server names none.
std::string DefaultNamingContext(LdapConnection& connection);

// "schemaNamingContext", else "CN=Schema,CN=Configuration," + the forest's partition.
std::string SchemaNamingContext(LdapConnection& connection);

} // namespace platform::directory
