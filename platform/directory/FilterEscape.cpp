// Escaping assertion values so that a text from outside can never change an LDAP filter's shape.

#include "platform/directory/FilterEscape.h"

#include "platform/core/Error.h"

#include <ldap.h>

namespace platform::directory {

std::string EscapeFilterValue(std::string_view value) {
    berval in;
    in.bv_len = value.size();
    in.bv_val = const_cast<char*>(value.data());
    berval out{};
    if (ldap_bv2escaped_filter_value(&in, &out) != 0)
        throw Error(hr::E_OUTOFMEMORY, "Cannot escape a directory filter value");
    std::string escaped(out.bv_val ? out.bv_val : "", out.bv_len);
    ber_memfree(out.bv_val);
    return escaped;
}

} // namespace platform::directory
