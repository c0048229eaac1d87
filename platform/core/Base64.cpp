// Base64 written out by hand: a few lines, and the strict reading is easier to see here than
// around a library decoder that skips whitespace or ignores stray bits.

#include "platform/core/Base64.h"

#include <array>
#include <cstdint>

namespace platform::text {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The six bits of each alphabet character; -1 for every other byte, "=" included.
constexpr std::array<std::int8_t, 256> kValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}();

int ValueOf(char c) {
    return kValues[static_cast<unsigned char>(c)];
}

} // namespace

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                    static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[group >> 18];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += kAlphabet[group & 63];
    }
    const auto rest = bytes.size() - i;
    if (rest == 0)
        return out;
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2)
        group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 63];
    out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out += '=';
    return out;
}

// Strict on purpose: a SASL response or an IMAP literal must have one meaning per text, so two
// different texts never decode to the same bytes (no skipped whitespace, no optional padding,
// no pad bits that a lenient decoder would drop).
std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // The characters of this group that carry bits: four, or in the padded last group two
        // or three. Any "=" among them fails ValueOf.
        const std::size_t digits = last ? 4 - padding : 4;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int value = 0;
            if (k < digits) {
                value = ValueOf(text[i + k]);
                if (value < 0)
                    return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        out += static_cast<char>(group >> 16);
        if (digits == 2) {
            if ((group & 0xFFFF) != 0)
                return std::nullopt; // the second character's low four bits are not zero
            break;
        }
        out += static_cast<char>((group >> 8) & 0xFF);
        if (digits == 3) {
            if ((group & 0xFF) != 0)
                return std::nullopt; // the third character's low two bits are not zero
            break;
        }
        out += static_cast<char>(group & 0xFF);
    }
    return out;
}

} // namespace platform::text
