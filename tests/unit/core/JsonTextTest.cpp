// The JSON string literal of a text: which bytes are escaped and how.

#include "platform/core/JsonText.h"

#include <gtest/gtest.h>

namespace text = platform::text;

namespace {

struct Case {
    const char* name;
    std::string_view text;
    std::string_view literal;
};

class JsonStringCases : public ::testing::TestWithParam<Case> {};

TEST_P(JsonStringCases, AppendsTheQuotedLiteral) {
    std::string out = "[";
    text::AppendJsonString(out, GetParam().text);
    EXPECT_EQ(out, "[" + std::string(GetParam().literal));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonStringCases,
    ::testing::Values(Case{"Empty", "", "\"\""}, Case{"Plain", "abc", "\"abc\""},
                      Case{"Quote", "a\"b", "\"a\\\"b\""}, Case{"Backslash", "a\\b", "\"a\\\\b\""},
                      Case{"Slash", "a/b", "\"a/b\""},
                      Case{"ShortEscapes", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
                      Case{"Nul", std::string_view("a\0b", 3), "\"a\\u0000b\""},
                      Case{"OtherControls", "\x01\x0b\x1f", "\"\\u0001\\u000b\\u001f\""},
                      Case{"Delete", "\x7f", "\"\x7f\""},
                      Case{"Utf8Unchanged", "J\xC3\xBCrgen \xE2\x82\xAC",
                           "\"J\xC3\xBCrgen \xE2\x82\xAC\""},
                      Case{"OtherBytesUnchanged", "\xFF\x80", "\"\xFF\x80\""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
