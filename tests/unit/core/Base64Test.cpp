// Base64 both ways: the RFC 4648 test vectors, every form of text the strict reading refuses,
// and every byte value carried whole.

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

struct Rejected {
    const char* name;
    std::string_view text;
};

class Base64Rejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(Base64Rejects, TextOutsideTheCanonicalForm) {
    EXPECT_EQ(text::DecodeBase64(GetParam().text), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Base64Rejects,
    ::testing::Values(
        // The length must be a multiple of four.
        Rejected{"OneCharacter", "Z"}, Rejected{"MissingPadding", "Zg"},
        Rejected{"MissingOnePad", "Zg="}, Rejected{"ThreeCharacters", "Zm8"},
        Rejected{"FiveCharacters", "Zm9vY"},
        // Only the standard alphabet.
        Rejected{"UrlSafeMinus", "Zm9-"}, Rejected{"UrlSafeUnderscore", "Zm9_"},
        Rejected{"Punctuation", "Zm9!"}, Rejected{"NonAscii", "Zm9\xC3\xA4"},
        Rejected{"NulByte", std::string_view("Zm9\0", 4)},
        // No whitespace anywhere.
        Rejected{"Space", "Zm9v Zg=="}, Rejected{"LineBreak", "Zm9v\r\nYmFy"},
        Rejected{"TrailingNewline", "Zm9v\n\n\n\n"}, Rejected{"Tab", "\tZm9"},
        // Padding only at the end, and only as much as needed.
        Rejected{"PadInTheMiddle", "Zg==Zm9v"}, Rejected{"PadInsideAGroup", "Z=9v"},
        Rejected{"PadBeforeDigit", "Zm=v"}, Rejected{"ThreePads", "Z==="},
        Rejected{"OnlyPads", "===="}, Rejected{"PadOnAFullGroup", "Zm9v===="},
        // The unused bits of the last character must be zero ("Zg==" and "Zm8=" are the
        // canonical forms of these bytes).
        Rejected{"NonZeroBitsBeforeTwoPads", "Zh=="}, Rejected{"LastBitBeforeTwoPads", "Zv=="},
        Rejected{"NonZeroBitsBeforeOnePad", "Zm9="}, Rejected{"LastBitBeforeOnePad", "Zm+="}),
    [](const auto& info) { return std::string(info.param.name); });

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
