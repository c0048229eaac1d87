// Asks libldap itself whether a filter encodes, through a handle that never reaches a server, so
// the fuzz targets judge the dialect's filters by the library that will send them.

#include "LdapFilter.h"

#include <ldap.h>

#include <cstdlib>

namespace fuzz {

namespace {

// A handle whose server cannot be reached: a search encodes its filter first (failing with
// LDAP_FILTER_ERROR if it cannot) and only then tries to connect, which fails at once.
LDAP* UnreachableHandle() {
    static LDAP* handle = [] {
        LDAP* ld = nullptr;
        if (ldap_initialize(&ld, "ldapi://%2Fnonexistent%2Florvanta-fuzz") != LDAP_SUCCESS)
            std::abort();
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        return ld;
    }();
    return handle;
}

} // namespace

bool IsValidLdapFilter(const std::string& filter) {
    int messageId = 0;
    const int rc = ldap_search_ext(UnreachableHandle(), "", LDAP_SCOPE_BASE, filter.c_str(),
                                   nullptr, 0, nullptr, nullptr, nullptr, 0, &messageId);
    return rc != LDAP_FILTER_ERROR;
}

} // namespace fuzz
