// Finds a mailbox user in the private directory by address or logon name, checks a password with
// a simple bind as that entry, and sets one through Password Modify, all through the platform's
// directory client (its pool, time limits and handling of a server gone away).

#include "server/login/DirectoryLogin.h"

#include "platform/directory/DirectoryPath.h"
#include "platform/directory/FilterEscape.h"
#include "platform/directory/LdapConnection.h"
#include "platform/directory/LdapConnectionPool.h"

#include <algorithm>

namespace server::login {

namespace directory = platform::directory;
using directory::EscapeFilterValue;

namespace {

// What is left of the time until `deadline`; none of its own without one. At least a
// millisecond, so that a limit is always given once there is a deadline.
std::chrono::milliseconds Left(std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline)
        return {};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(1));
}

} // namespace

DirectoryLogin::DirectoryLogin(const platform::host::ServerFolder& folder,
                               std::chrono::milliseconds lookupTimeout)
    : lookupTimeout_(lookupTimeout) {
    const auto names = folder.ReadMachineNames();
    uri_ = names.directoryUri;
    baseDn_ = directory::DnsNameToDn(names.forestDnsName);
    computerName_ = names.computerName;
}

std::optional<DirectoryUser>
DirectoryLogin::FindOne(const std::string& filter,
                        std::optional<Clock::time_point> deadline) const {
    directory::SearchOptions options;
    options.sizeLimit = 2;
    const auto wanted = "(&(objectClass=organizationalPerson)(msExchHomeServerName=*/cn=" +
                        EscapeFilterValue(computerName_) + ")" + filter + ")";
    directory::HeldConnections held;
    const auto entries = directory::RetryOnStale(held, [&] {
        const auto left = Left(deadline);
        // The search's own limit is in whole seconds.
        options.timeLimitSeconds = static_cast<int>((left.count() + 999) / 1000);
        directory::LdapSearch search(held.To(uri_, left), baseDn_, wanted, {"mailNickname"},
                                     options);
        std::vector<directory::LdapEntry> found;
        while (search.NextPage(found)) {
        }
        return found;
    });
    if (entries.size() != 1 || entries[0].values.empty() || entries[0].values[0].empty())
        return std::nullopt;
    return DirectoryUser{entries[0].dn, entries[0].values[0][0]};
}

std::optional<DirectoryUser> DirectoryLogin::FindUser(const std::string& name) const {
    return FindUser(name, std::nullopt);
}

std::optional<DirectoryUser>
DirectoryLogin::FindUser(const std::string& name, std::optional<Clock::time_point> deadline) const {
    if (name.empty())
        return std::nullopt;
    const auto value = EscapeFilterValue(name);
    // Disabled accounts (userAccountControl bit 2) cannot log in.
    return FindOne("(!(userAccountControl:1.2.840.113556.1.4.803:=2))"
                   "(|(proxyAddresses=smtp:" +
                       value + ")(sAMAccountName=" + value + "))",
                   deadline);
}

std::optional<DirectoryUser> DirectoryLogin::FindByAlias(const std::string& alias) const {
    if (alias.empty())
        return std::nullopt;
    return FindOne("(mailNickname=" + EscapeFilterValue(alias) + ")");
}

CheckedLogin DirectoryLogin::Check(const std::string& name, const std::string& password) const {
    if (password.empty())
        return {};
    std::optional<Clock::time_point> deadline;
    if (lookupTimeout_.count() > 0)
        deadline = Clock::now() + lookupTimeout_;
    CheckedLogin checked;
    checked.user = FindUser(name, deadline);
    checked.accepted =
        checked.user && directory::CheckPassword(uri_, checked.user->dn, password, Left(deadline));
    return checked;
}

void DirectoryLogin::SetPassword(const std::string& dn, const std::string& password) const {
    directory::HeldConnections held;
    directory::RetryOnStale(held, [&] { held.To(uri_)->ChangePassword(dn, password); });
}

} // namespace server::login
