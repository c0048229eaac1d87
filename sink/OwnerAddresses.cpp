// Asks the directory for the SMTP addresses of the mailbox's owner on this server, through the
// directory's SQL dialect with the mailbox name escaped.

#include "sink/LorvantaModule.h"

#include "platform/core/Ado.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Text.h"
#include "platform/directory/FilterEscape.h"
#include "platform/directory/SystemInfo.h"

#include <optional>

namespace lorvanta {

namespace {

using platform::ado::Connection;
using platform::ado::Recordset;

constexpr std::string_view kSmtpPrefix = "smtp:";

bool IsSmtpAddress(const std::string& value) {
    if (value.size() <= kSmtpPrefix.size())
        return false;
    for (std::size_t i = 0; i < kSmtpPrefix.size(); ++i) {
        if (platform::text::AsciiLower(value[i]) != kSmtpPrefix[i])
            return false;
    }
    return true;
}

void AppendSmtpAddresses(const platform::Variant& proxyAddresses, std::string& result) {
    if (!proxyAddresses.IsArray())
        return;
    for (const auto& value : proxyAddresses.Array()) {
        if (!IsSmtpAddress(value))
            continue;
        if (!result.empty())
            result += ',';
        result.append(value, kSmtpPrefix.size());
    }
}

std::optional<std::string> ReadForestName() {
    try {
        auto info = platform::CreateObjectAs<platform::directory::ADSystemInfo>("ADSystemInfo");
        return info->ForestDNSName();
    } catch (...) {
        return std::nullopt;
    }
}

// The name of the machine whose store is saving the item; empty when it cannot be read.
std::string ReadComputerName() {
    try {
        auto info =
            platform::CreateObjectAs<platform::directory::WinNTSystemInfo>("WinNTSystemInfo");
        return info->ComputerName();
    } catch (...) {
        return {};
    }
}

} // namespace

std::string OwnerAddressQuery(const std::string& forestDnsName, const std::string& mailboxName,
                              const std::string& computerName) {
    using platform::directory::EscapeFilterValue;
    // The mailbox name is escaped so that "*", "(", ")" or "\" in it can neither widen the match
    // to other people's addresses nor break the filter. Only entries that have a mailbox on this
    // server can own the mailbox: a contact or another server's user whose mail address shares
    // the name must not lend it their addresses.
    const auto homeServer =
        computerName.empty() ? std::string("*") : "*/cn=" + EscapeFilterValue(computerName);
    return "<LDAP://" + forestDnsName + ">" +
           ";(&(objectClass=organizationalPerson)(mail=" + EscapeFilterValue(mailboxName) + "@*" +
           ")(msExchHomeServerName=" + homeServer + "));proxyAddresses;subtree";
}

std::string GetOwnerAddresses(const std::string& mailboxName) {
    std::string result;
    std::shared_ptr<Connection> connection;
    try {
        connection = platform::CreateObjectAs<Connection>("ADODB.Connection");
        connection->SetProvider("ADSDSOObject");
    } catch (...) {
    }
    try {
        if (connection)
            connection->Open("ADs Provider", "", "");
    } catch (...) {
    }
    const auto forestName = ReadForestName();

    std::shared_ptr<Recordset> rows;
    try {
        if (connection && forestName)
            rows = connection->Execute(
                OwnerAddressQuery(*forestName, mailboxName, ReadComputerName()));
    } catch (...) {
    }
    if (!rows)
        return result;

    try {
        while (!rows->Eof()) {
            try {
                AppendSmtpAddresses(rows->Fields()->Item(0)->Value(), result);
            } catch (...) {
                // A row whose addresses cannot be read contributes nothing.
            }
            rows->MoveNext();
        }
    } catch (...) {
        // The record set failed: keep the addresses collected so far.
    }
    try {
        rows->Close();
    } catch (...) {
    }
    return result;
}

} // namespace lorvanta
