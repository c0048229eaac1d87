// Puts a server reply on the wire with continuation lines, so that no quoted client text can break
// it into lines of its own.

#include "server/smtp/SmtpReply.h"

namespace server::smtp {

std::string Reply::Wire() const {
    const auto code = std::to_string(this->code);
    if (lines.empty())
        return code + "\r\n";
    std::string wire;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        wire += code + (i + 1 < lines.size() ? "-" : " ");
        // Replies may quote the client (a domain, a parameter); a CR or LF it sent must not
        // break the reply into lines of its own.
        for (char c : lines[i])
            wire += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        wire += "\r\n";
    }
    return wire;
}

} // namespace server::smtp
