// Searches the global catalog for the entries that map a recipient address, or a whole mail
// domain, to mailbox aliases on this server.

#include "server/delivery/RecipientLookup.h"

#include "server/delivery/NoSuchRecipient.h"

#include "platform/directory/DirectoryPath.h"
#include "platform/directory/FilterEscape.h"
#include "platform/directory/LdapConnection.h"
#include "platform/directory/LdapConnectionPool.h"
#include "platform/directory/RootDse.h"
#include "platform/directory/ServerAddress.h"

namespace server::delivery {

namespace {

namespace directory = platform::directory;
using directory::EscapeFilterValue;

// The non-empty aliases of the entries with a mailbox on this computer whose proxy addresses
// match `proxyFilter` (escaped already), at most `most`.
std::vector<std::string> AliasesFound(const platform::host::MachineNames& names,
                                      const std::string& proxyFilter, std::size_t most) {
    const auto& forest = names.forestDnsName.empty() ? names.domainDnsName : names.forestDnsName;
    const auto server =
        directory::ResolveServer(directory::ParseDirectoryPath("GC://" + forest), names);
    const auto filter = "(&(objectClass=organizationalPerson)(msExchHomeServerName=*/cn=" +
                        EscapeFilterValue(names.computerName) + ")(proxyAddresses=" + proxyFilter +
                        "))";
    directory::HeldConnections held;
    return directory::RetryOnStale(held, [&] {
        const auto connection = held.To(server.uri);
        const auto base = server.namingContext.empty()
                              ? directory::DefaultNamingContext(*connection)
                              : server.namingContext;
        directory::LdapSearch search(connection, base, filter, {"mailNickname"}, {});
        std::vector<std::string> aliases;
        std::vector<directory::LdapEntry> entries;
        while (aliases.size() < most && search.NextPage(entries)) {
            for (const auto& entry : entries)
                if (aliases.size() < most && !entry.values[0].empty() &&
                    !entry.values[0].front().empty())
                    aliases.push_back(entry.values[0].front());
            entries.clear();
        }
        return aliases;
    });
}

} // namespace

std::string FindMailboxAlias(const platform::host::MachineNames& names,
                             const std::string& address) {
    if (address.empty() || address.find('@') == std::string::npos)
        throw NoSuchRecipient("not a mail address: \"" + address + "\"");
    // proxyAddresses compares without regard to case, so "smtp:" also finds the primary
    // "SMTP:" address. The address is escaped so that "*" cannot widen the match.
    const auto aliases = AliasesFound(names, "smtp:" + EscapeFilterValue(address), 1);
    if (aliases.empty())
        throw NoSuchRecipient("no mailbox has the address " + address);
    return aliases.front();
}

std::vector<std::string> MailboxAliasesInDomain(const platform::host::MachineNames& names,
                                                const std::string& domain, std::size_t most) {
    return AliasesFound(names, "smtp:*@" + EscapeFilterValue(domain), most);
}

} // namespace server::delivery
