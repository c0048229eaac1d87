// Cuts a multipart body at its boundary lines.

#include "server/message/Multipart.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <optional>

namespace server::message {

std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary) {
    std::vector<std::string_view> parts;
    if (boundary.empty())
        return parts;
    const std::string delimiter = "--" + boundary;
    std::optional<std::size_t> partStart;
    std::size_t line = 0;
    while (line < body.size()) {
        auto end = body.find('\n', line);
        const auto next = end == std::string_view::npos ? body.size() : end + 1;
        auto text = body.substr(line, next - line);
        if (text.starts_with(delimiter)) {
            auto after = text.substr(delimiter.size());
            const bool closing = after.starts_with("--");
            if (closing)
                after.remove_prefix(2);
            // Only white space may follow the boundary on its line.
            if (platform::text::TrimSpacesAndTabs(after.substr(0, after.find_first_of("\r\n")))
                    .empty()) {
                if (partStart) {
                    // The line end before the delimiter belongs to it, not to the part.
                    auto stop = line;
                    if (stop >= *partStart + 2 && body.substr(stop - 2, 2) == "\r\n")
                        stop -= 2;
                    else if (stop > *partStart && body[stop - 1] == '\n')
                        stop -= 1;
                    parts.push_back(
                        body.substr(*partStart, std::max(stop, *partStart) - *partStart));
                }
                if (closing)
                    return parts;
                partStart = next;
            }
        }
        line = next;
    }
    if (partStart && *partStart <= body.size())
        parts.push_back(body.substr(*partStart));
    return parts;
}

} // namespace server::message
