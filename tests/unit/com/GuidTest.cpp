// GUID text as the class registry and the COM+ catalog store it: braces, upper-case digits.

#include "platform/com/Guid.h"

#include <gtest/gtest.h>

using platform::com::FormatGuid;
using platform::com::GUID;
using platform::com::ParseGuid;

namespace {

TEST(Guid, KnownValuesFormatAndParseBothWays) {
    const struct {
        const char* text;
        GUID value;
    } known[] = {
        {"{00000000-0000-0000-C000-000000000046}", {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
        {"{01234567-89AB-CDEF-0123-456789ABCDEF}",
         {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}},
    };
    for (const auto& k : known) {
        EXPECT_EQ(FormatGuid(k.value), k.text);
        EXPECT_EQ(ParseGuid(k.text), k.value) << k.text;
    }
    EXPECT_EQ(ParseGuid("{01234567-89ab-cdef-0123-456789abcdef}"), known[1].value);
}

TEST(Guid, MalformedTextsGiveNoValue) {
    for (const char* text : {
             "",
             "{}",
             "01234567-89AB-CDEF-0123-456789ABCDEF",    // no braces
             "{01234567-89AB-CDEF-0123-456789ABCDEF",   // no closing brace
             "{01234567-89AB-CDEF-0123-456789ABCDEF}x", // trailing text
             "{01234567-89AB-CDEF-0123-456789ABCDE}",   // one digit short
             "{0123456789AB-CDEF-0123-456789ABCDEF0}",  // dash moved
             "{01234567-89AB-CDEF-0123-456789ABCDEG}",  // not a hex digit
             "{0x234567-89AB-CDEF-0123-456789ABCDEF}",  // hex prefix
             "Lorvanta.LorvantaCls",
         })
        EXPECT_FALSE(ParseGuid(text)) << '"' << text << '"';
}

} // namespace
