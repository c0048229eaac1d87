#pragma once

// One reply of the server: a three-digit code and one or more text lines; and reading one as a
// client does, line by line.

#include <string>
#include <string_view>
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

// Adds a line a server sent (without its CRLF) to `reply`; whether it was the reply's last.
// Throws std::runtime_error for a line that is no reply line ("250-", "250 ", "250"), or that
// changes the code in the middle of a reply.
bool AddReplyLine(Reply& reply, std::string_view line);

} // namespace server::smtp
