// Puts a server reply on the wire with continuation lines, so that no quoted client text can break
// it into lines of its own.

#include "server/smtp/SmtpReply.h"

#include <stdexcept>

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

bool AddReplyLine(Reply& reply, std::string_view line) {
    const auto digit = [&](std::size_t i) { return line[i] >= '0' && line[i] <= '9'; };
    if (line.size() < 3 || !digit(0) || !digit(1) || !digit(2) ||
        (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
        throw std::runtime_error("not an SMTP reply line: \"" + std::string(line.substr(0, 80)) +
                                 "\"");
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (!reply.lines.empty() && code != reply.code)
        throw std::runtime_error("an SMTP reply changed its code midway");
    reply.code = code;
    reply.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
    return line.size() == 3 || line[3] == ' ';
}

} // namespace server::smtp
