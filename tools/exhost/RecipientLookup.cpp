#include "RecipientLookup.h"

#include "ServerContext.h"

#include "platform/core/Ado.h"
#include "platform/directory/FilterEscape.h"

namespace exhost {

std::string MailboxAliasQuery(const std::string& forestDnsName, const std::string& address) {
    // proxyAddresses compares without regard to case, so "smtp:" also finds the primary
    // "SMTP:" address. The address is escaped so that "*" cannot widen the match.
    return "<GC://" + forestDnsName +
           ">;(&(objectClass=organizationalPerson)(proxyAddresses=smtp:" +
           platform::directory::EscapeFilterValue(address) + "));mailNickname;subtree";
}

std::string FindMailboxAlias(const std::string& forestDnsName, const std::string& address) {
    if (address.empty() || address.find('@') == std::string::npos)
        throw UsageError("not a mail address: \"" + address + "\"");
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ADSDSOObject");
    connection->Open("ADs Provider", "", "");
    auto rows = connection->Execute(MailboxAliasQuery(forestDnsName, address));
    std::string alias;
    while (!rows->Eof()) {
        const auto value = rows->Fields()->Item(0)->Value();
        if (value.IsText() && !value.Text().empty()) {
            alias = value.Text();
            break;
        }
        if (value.IsArray() && !value.Array().empty()) {
            alias = value.Array().front();
            break;
        }
        rows->MoveNext();
    }
    rows->Close();
    connection->Close();
    if (alias.empty())
        throw UsageError("no mailbox has the address " + address);
    return alias;
}

} // namespace exhost
