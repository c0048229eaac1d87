#include "platform/com/Guid.h"

#include <gtest/gtest.h>

using platform::com::FormatGuid;
using platform::com::GUID;
using platform::com::ParseGuid;

namespace {

struct KnownGuid {
    const char* text;
    GUID value;
};

const KnownGuid kKnown[] = {
    {"{00000000-0000-0000-C000-000000000046}", {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
    {"{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A}",
     {0x9DA0E0FE, 0x86CE, 0x11D1, {0x8F, 0x9A, 0x00, 0xC0, 0x4F, 0xC2, 0xD6, 0x2A}}},
    {"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}",
     {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}},
    {"{01234567-89AB-CDEF-0123-456789ABCDEF}",
     {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
};

TEST(Guid, KnownValuesFormatAndParseBothWays) {
    for (const auto& known : kKnown) {
        SCOPED_TRACE(known.text);
        EXPECT_EQ(FormatGuid(known.value), known.text);
        const auto parsed = ParseGuid(known.text);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(*parsed, known.value);
    }
}

TEST(Guid, LowerCaseDigitsParseAndFormatUpperCase) {
    const auto parsed = ParseGuid("{9da0e0fe-86ce-11d1-8f9a-00c04fc2d62a}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(FormatGuid(*parsed), "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A}");
}

TEST(Guid, EveryByteSurvivesTheRoundTrip) {
    // Each byte position in turn holds a distinct value, so a swapped or dropped byte shows.
    for (int position = 0; position < 16; ++position) {
        GUID guid{};
        auto* bytes = reinterpret_cast<std::uint8_t*>(&guid);
        bytes[position] = static_cast<std::uint8_t>(0xA0 + position);
        const auto parsed = ParseGuid(FormatGuid(guid));
        ASSERT_TRUE(parsed) << FormatGuid(guid);
        EXPECT_EQ(*parsed, guid) << FormatGuid(guid);
    }
}

TEST(Guid, MalformedTextsGiveNoValue) {
    const char* malformed[] = {
        "",
        "{}",
        "9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A",    // no braces
        "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A",   // no closing brace
        "9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A}",   // no opening brace
        "(9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A)",  // wrong brackets
        "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A}x", // trailing text
        " {9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62A}", // leading blank
        "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62}",   // one digit short
        "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D62AA}", // one digit too many
        "{9DA0E0FE86CE-11D1-8F9A-00C04FC2D62A0}",  // dash moved
        "{9DA0E0FE-86CE-11D1-8F9A00C04FC2D62A}",   // dash missing
        "{9DA0E0FG-86CE-11D1-8F9A-00C04FC2D62A}",  // not a hex digit
        "{9DA0E0FE-86CE-11D1-8F9A-00C04FC2D6 A}",  // blank inside
        "{9DA0E0FE_86CE_11D1_8F9A_00C04FC2D62A}",  // wrong separators
        "{0x9DA0E0-86CE-11D1-8F9A-00C04FC2D62A}",  // hex prefix
        "Lorvanta.LorvantaCls",
    };
    for (const char* text : malformed)
        EXPECT_FALSE(ParseGuid(text)) << '"' << text << '"';
}

} // namespace
