// Base64 both ways, the strict reading's refusals, and every byte value.

#include "platform/core/Base64.h"

#include <gtest/gtest.h>

namespace text = platform::text;

namespace {

struct Vector {
    const char* bytes;
    const char* text;
};

// RFC 4648, section 10, and the alphabet's "+" and "/".
constexpr Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\xFB\xFF\xBF", "+/+/"},
};

TEST(Base64, KnownVectorsBothWays) {
    for (const auto& vector : kVectors) {
        EXPECT_EQ(text::EncodeBase64(vector.bytes), vector.text) << vector.bytes;
        EXPECT_EQ(text::DecodeBase64(vector.text), std::optional<std::string>(vector.bytes))
            << vector.text;
    }
}

TEST(Base64, TextOutsideTheCanonicalFormIsRejected) {
    for (const auto text : std::initializer_list<std::string_view>{
             // The length must be a multiple of four.
             "Z", "Zg", "Zg=", "Zm8", "Zm9vY",
             // Only the standard alphabet.
             "Zm9-", "Zm9_", "Zm9!", "Zm9\xC3\xA4", std::string_view("Zm9\0", 4),
             // No whitespace anywhere.
             "Zm9v Zg==", "Zm9v\r\nYmFy", "Zm9v\n\n\n\n", "\tZm9",
             // Padding only at the end, and only as much as needed.
             "Zg==Zm9v", "Z=9v", "Zm=v", "Z===", "====", "Zm9v====",
             // The unused bits of the last character must be zero ("Zg==" and "Zm8=" are the
             // canonical forms of these bytes).
             "Zh==", "Zv==", "Zm9=", "Zm+="})
        EXPECT_EQ(text::DecodeBase64(text), std::nullopt) << testing::PrintToString(text);
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(value);
        // Alone, each value meets the form with two pads.
        const std::string byte(1, static_cast<char>(value));
        EXPECT_EQ(text::DecodeBase64(text::EncodeBase64(byte)), std::optional<std::string>(byte))
            << value;
    }
    // Each length modulo three, so both padded forms and the unpadded one are met.
    for (std::size_t length : {bytes.size(), bytes.size() - 1, bytes.size() - 2}) {
        const auto part = bytes.substr(0, length);
        const auto encoded = text::EncodeBase64(part);
        EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(text::DecodeBase64(encoded), std::optional<std::string>(part)) << length;
    }
}

} // namespace
