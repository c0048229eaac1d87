#include "SmtpReply.h"

namespace exhost::smtp {

std::string Reply::Wire() const {
    const auto code = std::to_string(this->code);
    if (lines.empty())
        return code + "\r\n";
    std::string wire;
    for (std::size_t i = 0; i < lines.size(); ++i)
        wire += code + (i + 1 < lines.size() ? "-" : " ") + lines[i] + "\r\n";
    return wire;
}

} // namespace exhost::smtp
