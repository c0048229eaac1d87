// Finds a mailbox user in the private directory by address or logon name, checks a password with
// a simple bind as that entry, and sets one through Password Modify.

#include "server/login/DirectoryLogin.h"

#include "platform/core/Error.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/DirectoryPath.h"
#include "platform/directory/FilterEscape.h"
#include "platform/directory/LdapConnection.h"

#include <ldap.h>

#include <memory>

namespace server::login {

namespace {

using platform::directory::EscapeFilterValue;

[[noreturn]] void Fail(const std::string& what, int code) {
    throw platform::Error(platform::hr::E_FAIL,
                          what + ": " + ldap_err2string(code) + " (" + std::to_string(code) + ")");
}

} // namespace

DirectoryLogin::DirectoryLogin(const platform::host::ServerFolder& folder) {
    const auto names = folder.ReadMachineNames();
    uri_ = names.directoryUri;
    baseDn_ = platform::directory::DnsNameToDn(names.forestDnsName);
    computerName_ = names.computerName;
}

std::optional<DirectoryUser> DirectoryLogin::FindOne(const std::string& filter) const {
    auto connection = std::make_shared<platform::directory::LdapConnection>(uri_);
    platform::directory::SearchOptions options;
    options.sizeLimit = 2;
    platform::directory::LdapSearch search(connection, baseDn_,
                                           "(&(objectClass=organizationalPerson)"
                                           "(msExchHomeServerName=*/cn=" +
                                               EscapeFilterValue(computerName_) + ")" + filter +
                                               ")",
                                           {"mailNickname"}, options);
    std::vector<platform::directory::LdapEntry> entries;
    while (search.NextPage(entries)) {
    }
    if (entries.size() != 1 || entries[0].values.empty() || entries[0].values[0].empty())
        return std::nullopt;
    return DirectoryUser{entries[0].dn, entries[0].values[0][0]};
}

std::optional<DirectoryUser> DirectoryLogin::FindUser(const std::string& name) const {
    if (name.empty())
        return std::nullopt;
    const auto value = EscapeFilterValue(name);
    // Disabled accounts (userAccountControl bit 2) cannot log in.
    return FindOne("(!(userAccountControl:1.2.840.113556.1.4.803:=2))"
                   "(|(proxyAddresses=smtp:" +
                   value + ")(sAMAccountName=" + value + "))");
}

std::optional<DirectoryUser> DirectoryLogin::FindByAlias(const std::string& alias) const {
    if (alias.empty())
        return std::nullopt;
    return FindOne("(mailNickname=" + EscapeFilterValue(alias) + ")");
}

std::optional<DirectoryUser> DirectoryLogin::Check(const std::string& name,
                                                   const std::string& password) const {
    if (password.empty())
        return std::nullopt;
    const auto user = FindUser(name);
    if (!user)
        return std::nullopt;
    LDAP* raw = nullptr;
    if (const int rc = ldap_initialize(&raw, uri_.c_str()); rc != LDAP_SUCCESS)
        Fail("Cannot reach the directory at " + uri_, rc);
    std::unique_ptr<LDAP, void (*)(LDAP*)> ld(
        raw, [](LDAP* l) { ldap_unbind_ext_s(l, nullptr, nullptr); });
    const int version = LDAP_VERSION3;
    ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    const int rc = ldap_sasl_bind_s(ld.get(), user->dn.c_str(), LDAP_SASL_SIMPLE, &credentials,
                                    nullptr, nullptr, nullptr);
    if (rc == LDAP_SUCCESS)
        return user;
    if (rc == LDAP_INVALID_CREDENTIALS || rc == LDAP_INAPPROPRIATE_AUTH ||
        rc == LDAP_UNWILLING_TO_PERFORM)
        return std::nullopt;
    Fail("The directory could not check a password", rc);
}

void DirectoryLogin::SetPassword(const std::string& dn, const std::string& password) const {
    platform::directory::LdapConnection connection(uri_);
    berval user{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.data())};
    berval secret{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    berval generated{0, nullptr};
    const int rc =
        ldap_passwd_s(connection.Handle(), &user, nullptr, &secret, &generated, nullptr, nullptr);
    ber_memfree(generated.bv_val);
    if (rc != LDAP_SUCCESS)
        Fail("The directory did not take the new password of " + dn, rc);
}

} // namespace server::login
