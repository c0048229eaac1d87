#pragma once

// The body parts of a multipart entity (RFC 2046 section 5.1.1).

#include <string>
#include <string_view>
#include <vector>

namespace server::message {

// The parts between the boundary lines of a multipart body, each without the line end that
// belongs to the next boundary line; none when the boundary is empty or never occurs. A body
// without its closing boundary line ends its last part at its end.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary);

} // namespace server::message
