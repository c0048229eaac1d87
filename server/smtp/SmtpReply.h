#pragma once

// One reply of the server: a three-digit code and one or more text lines.

#include <string>
#include <vector>

namespace server::smtp {

struct Reply {
    int code = 0;
    std::vector<std::string> lines;

    // The reply as it goes on the wire: "250-first\r\n250 last\r\n", control bytes in the
    // text shown as "?".
    std::string Wire() const;
    bool operator==(const Reply&) const = default;
};

} // namespace server::smtp
