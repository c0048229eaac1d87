// Writes and reads GUIDs in the registry's braced text form, rejecting every other shape.

#include "platform/com/Guid.h"

#include "platform/core/Text.h"

#include <array>
#include <cstdio>

namespace platform::com {

namespace {

constexpr std::string_view kShape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";

} // namespace

std::string FormatGuid(const GUID& guid) {
    std::array<char, kShape.size() + 1> buffer{};
    std::snprintf(buffer.data(), buffer.size(),
                  "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return std::string(buffer.data(), kShape.size());
}

std::optional<GUID> ParseGuid(std::string_view text) {
    if (text.size() != kShape.size())
        return std::nullopt;
    // The 16 bytes in text order; Data1..Data3 are read big-endian from the text.
    std::array<std::uint8_t, 16> bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != 'X') {
            if (text[i] != kShape[i])
                return std::nullopt;
            continue;
        }
        const int value = platform::text::HexDigitValue(text[i]);
        if (value < 0)
            return std::nullopt;
        bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | value);
        ++nibble;
    }
    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 |
                 static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (std::size_t i = 0; i < 8; ++i)
        guid.Data4[i] = bytes[8 + i];
    return guid;
}

} // namespace platform::com
