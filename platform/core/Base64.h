#pragma once

// Base64 with the standard alphabet and padding (RFC 4648, section 4), for bytes carried in text:
// SASL responses, JSON output, LDIF values.

#include <optional>
#include <string>
#include <string_view>

namespace platform::text {

// The bytes in base64, padded to a multiple of four characters.
std::string EncodeBase64(std::string_view bytes);

// The bytes a base64 text stands for, or nothing when the text is not in the one canonical form
// EncodeBase64 writes: only the standard alphabet, a length that is a multiple of four, "=" only
// at the end and only as many as the last group needs, no whitespace, and the unused bits of
// the last character zero.
std::optional<std::string> DecodeBase64(std::string_view text);

} // namespace platform::text
