#pragma once

// Finding the mailbox of this server that a recipient address belongs to, the way the mail
// transport resolves it in the directory.

#include "platform/host/ServerFolder.h"

#include <string>
#include <vector>

namespace server::delivery {

// The alias (mailNickname) of the directory entry with a mailbox on this computer (its
// msExchHomeServerName ends in "/cn=<computer>") that has "smtp:<address>" among its proxy
// addresses, the prefix in any letter case, as the mail transport resolves a recipient. Other
// entries, such as contacts of other organisations or users of other servers, never count: their
// alias may name some mailbox here. Asks the global catalog of the forest. Fails with
// NoSuchRecipient when no such entry (or one without an alias) has the address, and with
// platform::Error when the directory cannot be reached.
std::string FindMailboxAlias(const platform::host::MachineNames& names, const std::string& address);

// The aliases of the entries with a mailbox on this computer that have an SMTP address in
// `domain`, at most `most` of them.
std::vector<std::string> MailboxAliasesInDomain(const platform::host::MachineNames& names,
                                                const std::string& domain, std::size_t most);

} // namespace server::delivery
