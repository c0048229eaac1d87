// LDIF lines through libldap's writer, which decides per value whether it must be base64.

#include "platform/directory/LdifText.h"

#include <stdio.h> // ldif.h uses FILE without including it

#include <lber.h>
#include <ldif.h>

#include <memory>
#include <new>

namespace platform::directory {

void AppendLdifLine(std::string& out, std::string_view name, std::string_view value) {
    const std::string type(name); // the writer wants it NUL-terminated
    // Unfolded lines keep every value findable in the text, as the callers that adjust the
    // generated sample expect.
    std::unique_ptr<char, decltype(&ber_memfree)> line(ldif_put_wrap(LDIF_PUT_VALUE, type.c_str(),
                                                                     value.data(), value.size(),
                                                                     LDIF_LINE_WIDTH_MAX),
                                                       &ber_memfree);
    if (!line)
        throw std::bad_alloc();
    out += line.get(); // ends with its line break
}

} // namespace platform::directory
