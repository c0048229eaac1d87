#pragma once

// MIME's structured fields (RFC 2045, RFC 2183): a leading value followed by parameters, as in
// Content-Type and Content-Disposition, and the content type of an entity with its defaults.

#include "server/message/HeaderBlock.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server::message {

using Parameters = std::vector<std::pair<std::string, std::string>>;

// "value; name=value; name="quoted value"": the leading value and the parameters, in order.
struct ParameterizedValue {
    std::string value;
    Parameters parameters;
};
ParameterizedValue ReadParameterizedValue(std::string_view text);

struct ContentType {
    std::string type = "TEXT";
    std::string subtype = "PLAIN";
    Parameters parameters;

    // Types, subtypes and parameter names compare without regard to letter case.
    bool Is(std::string_view other) const;
    bool IsMultipart() const;
    bool IsMessage() const; // message/rfc822
    std::optional<std::string> Parameter(std::string_view name) const;
};

// The entity's content type; text/plain when it has none or one that does not read, or
// message/rfc822 for a part of a multipart/digest (`digestDefault`).
ContentType ReadContentType(const std::vector<HeaderField>& fields, bool digestDefault);

} // namespace server::message
