#pragma once

// Which LDAP server a directory path reaches. The server folder's machine names map the
// directory's DNS names and the global catalog host to the private server's URI; any other host
// name is an LDAP server reached by its name.

#include "platform/directory/DirectoryPath.h"
#include "platform/host/ServerFolder.h"

#include <optional>
#include <string>

namespace platform::directory {

struct ServerAddress {
    std::string uri;
    // The partition that the host name itself names (a domain's DNS name), or empty when the
    // server has to be asked for its default one.
    std::string namingContext;
};

// Throws ERROR_DS_SERVER_DOWN when the path names no host and no server folder names a server.
ServerAddress ResolveServer(const DirectoryPath& path,
                            const std::optional<host::MachineNames>& machine);

// The machine names of the server folder that EXHOST_ROOT names, or nothing when there is none.
std::optional<host::MachineNames> MachineNamesFromEnvironment();

} // namespace platform::directory
