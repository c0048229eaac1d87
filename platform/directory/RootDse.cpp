// Reads naming contexts from a server's root DSE, for paths that name a server but no partition.

#include "platform/directory/RootDse.h"

#include "platform/core/Error.h"
#include "platform/directory/LdapConnection.h"

namespace platform::directory {

namespace {

std::string FirstOf(LdapConnection& connection, const std::vector<std::string>& names) {
    const auto root = connection.ReadEntry("", names);
    if (root)
        for (const auto& values : root->values)
            if (!values.empty() && !values.front().empty())
                return values.front();
    return {};
}

} // namespace

std::string DefaultNamingContext(LdapConnection& connection) {
    auto dn =
        FirstOf(connection, {"defaultNamingContext", "rootDomainNamingContext", "namingContexts"});
    if (dn.empty())
        throw Error(hr::ERROR_DS_NO_SUCH_OBJECT,
                    "The directory server " + connection.Uri() + " names no default partition");
    return dn;
}

std::string SchemaNamingContext(LdapConnection& connection) {
    auto dn = FirstOf(connection, {"schemaNamingContext"});
    if (!dn.empty())
        return dn;
    const auto forest = FirstOf(connection, {"rootDomainNamingContext", "namingContexts"});
    if (forest.empty())
        return {};
    return "CN=Schema,CN=Configuration," + forest;
}

} // namespace platform::directory
