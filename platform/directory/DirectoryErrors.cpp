// Maps LDAP result codes to the numbers the real directory calls fail with, keeping the server's
// own message in the description.

#include "platform/directory/DirectoryErrors.h"

#include <ldap.h>

namespace platform::directory {

namespace {

std::int32_t NumberFor(int ldapCode) {
    switch (ldapCode) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_UNAVAILABLE:
    case LDAP_BUSY:
    case LDAP_TIMEOUT:
        return hr::ERROR_DS_SERVER_DOWN;
    case LDAP_FILTER_ERROR:
        return hr::ERROR_DS_FILTER_UNKNOWN;
    case LDAP_NO_SUCH_OBJECT:
        return hr::ERROR_DS_NO_SUCH_OBJECT;
    case LDAP_SIZELIMIT_EXCEEDED:
        return hr::ERROR_DS_SIZELIMIT_EXCEEDED;
    case LDAP_TIMELIMIT_EXCEEDED:
        return hr_ds::ERROR_DS_TIMELIMIT_EXCEEDED;
    case LDAP_INVALID_DN_SYNTAX:
        return hr_ds::ERROR_DS_INVALID_DN_SYNTAX;
    default:
        return hr_ds::ERROR_DS_OPERATIONS_ERROR;
    }
}

} // namespace

Error LdapFailure(int ldapCode, const std::string& what, const std::string& serverMessage) {
    std::string description = what + ": " + ldap_err2string(ldapCode);
    if (!serverMessage.empty())
        description += " (" + serverMessage + ")";
    return Error(NumberFor(ldapCode), description);
}

} // namespace platform::directory
