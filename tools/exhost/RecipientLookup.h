#pragma once

#include <string>

namespace exhost {

// The alias (mailNickname) of the directory entry that has "smtp:<address>" among its proxy
// addresses, the prefix in any letter case, as the mail transport resolves a recipient. Asks
// the global catalog of the forest through the directory provider. Fails when no entry (or one
// without an alias) has the address, or when the directory cannot be reached.
std::string FindMailboxAlias(const std::string& forestDnsName, const std::string& address);

// The query text that FindMailboxAlias runs (LDAP dialect).
std::string MailboxAliasQuery(const std::string& forestDnsName, const std::string& address);

} // namespace exhost
