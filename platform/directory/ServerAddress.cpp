// Decides which LDAP server a directory path reaches: the server folder's private directory for the
// machine's own names, any other host by its name.

#include "platform/directory/ServerAddress.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

namespace platform::directory {

namespace {

// Port of a global catalog on a real domain controller.
constexpr const char* kGlobalCatalogPort = "3268";

bool IsOneOf(const std::string& host, std::initializer_list<std::string> names) {
    for (const auto& name : names)
        if (!name.empty() && text::EqualsIgnoreCase(host, name))
            return true;
    return false;
}

} // namespace

ServerAddress ResolveServer(const DirectoryPath& path,
                            const std::optional<host::MachineNames>& machine) {
    const bool local = machine && !machine->directoryUri.empty();
    if (path.host.empty()) {
        if (!local)
            throw Error(hr::ERROR_DS_SERVER_DOWN,
                        "No directory server is known for \"" + path.ToString() +
                            "\": it names no host and no server folder names a directory");
        return {machine->directoryUri, {}};
    }
    if (local) {
        if (IsOneOf(path.host, {machine->domainDnsName, machine->forestDnsName}))
            return {machine->directoryUri, DnsNameToDn(path.host)};
        const auto computerFqdn = machine->domainDnsName.empty()
                                      ? std::string()
                                      : machine->computerName + "." + machine->domainDnsName;
        if (IsOneOf(path.host, {machine->globalCatalogHost, machine->computerName, computerFqdn}))
            return {machine->directoryUri, {}};
    }
    std::string uri = "ldap://" + path.host;
    if (path.IsGlobalCatalog() && path.host.find(':') == std::string::npos)
        uri += std::string(":") + kGlobalCatalogPort;
    return {uri, {}};
}

std::optional<host::MachineNames> MachineNamesFromEnvironment() {
    try {
        return host::ServerFolder::FromEnvironment().ReadMachineNames();
    } catch (const Error&) {
        return std::nullopt;
    }
}

} // namespace platform::directory
