// Builds the directory queries that map a recipient address, or a whole mail domain, to mailbox
// aliases on this server, and runs them through the directory provider.

#include "server/delivery/RecipientLookup.h"

#include "server/delivery/NoSuchRecipient.h"

#include "platform/core/Ado.h"
#include "platform/directory/FilterEscape.h"

namespace server::delivery {

namespace {

using platform::directory::EscapeFilterValue;

// Entries with a mailbox on the computer, whose proxy addresses match `proxyFilter` (escaped
// already).
std::string MailboxEntryQuery(const std::string& forestDnsName, const std::string& computerName,
                              const std::string& proxyFilter) {
    return "<GC://" + forestDnsName +
           ">;(&(objectClass=organizationalPerson)(msExchHomeServerName=*/cn=" +
           EscapeFilterValue(computerName) + ")(proxyAddresses=" + proxyFilter +
           "));mailNickname;subtree";
}

// The non-empty aliases the query finds, at most `most`.
std::vector<std::string> AliasesFound(const std::string& query, std::size_t most) {
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ADSDSOObject");
    connection->Open("ADs Provider", "", "");
    auto rows = connection->Execute(query);
    std::vector<std::string> aliases;
    for (; !rows->Eof() && aliases.size() < most; rows->MoveNext()) {
        const auto value = rows->Fields()->Item(0)->Value();
        if (value.IsText() && !value.Text().empty())
            aliases.push_back(value.Text());
        else if (value.IsArray() && !value.Array().empty() && !value.Array().front().empty())
            aliases.push_back(value.Array().front());
    }
    rows->Close();
    connection->Close();
    return aliases;
}

} // namespace

std::string MailboxAliasQuery(const std::string& forestDnsName, const std::string& computerName,
                              const std::string& address) {
    // proxyAddresses compares without regard to case, so "smtp:" also finds the primary
    // "SMTP:" address. The address is escaped so that "*" cannot widen the match.
    return MailboxEntryQuery(forestDnsName, computerName, "smtp:" + EscapeFilterValue(address));
}

std::string FindMailboxAlias(const std::string& forestDnsName, const std::string& computerName,
                             const std::string& address) {
    if (address.empty() || address.find('@') == std::string::npos)
        throw NoSuchRecipient("not a mail address: \"" + address + "\"");
    const auto aliases = AliasesFound(MailboxAliasQuery(forestDnsName, computerName, address), 1);
    if (aliases.empty())
        throw NoSuchRecipient("no mailbox has the address " + address);
    return aliases.front();
}

std::vector<std::string> MailboxAliasesInDomain(const std::string& forestDnsName,
                                                const std::string& computerName,
                                                const std::string& domain, std::size_t most) {
    return AliasesFound(
        MailboxEntryQuery(forestDnsName, computerName, "smtp:*@" + EscapeFilterValue(domain)),
        most);
}

} // namespace server::delivery
