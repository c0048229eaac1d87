// How values turn into text and how a value read as the wrong type fails.

#include "platform/core/Variant.h"
#include "platform/core/Error.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using platform::Error;
using platform::Variant;

TEST(Variant, ToTextFollowsScriptRules) {
    struct Case {
        Variant value;
        std::string text;
    } cases[] = {
        {Variant(), ""},         {Variant::Null(), ""},     {Variant("abc"), "abc"},
        {Variant(true), "True"}, {Variant(false), "False"}, {Variant(-7), "-7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value.ToText(), c.text) << c.value.TypeName();
}

TEST(Variant, WrongKindIsATypeMismatch) {
    const auto failure = testsupport::FailureOf([] {
        (void)Variant(Variant::TextArray{"a", "b"}).ToText();
    });
    EXPECT_EQ(failure.number, platform::hr::DISP_E_TYPEMISMATCH);
    EXPECT_NE(failure.description.find("String()"), std::string::npos) << failure.description;
    EXPECT_THROW((void)Variant("x").Array(), Error);
    EXPECT_THROW((void)Variant::Null().Text(), Error);
    EXPECT_THROW((void)Variant(1).Bool(), Error);
    EXPECT_THROW((void)Variant(true).Integer(), Error);
}
