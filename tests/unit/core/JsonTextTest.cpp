// The JSON string literal of a text: which bytes are escaped and how.

#include "platform/core/JsonText.h"

#include <gtest/gtest.h>

namespace text = platform::text;

namespace {

TEST(JsonString, AppendsTheQuotedLiteral) {
    const struct {
        std::string_view text, literal;
    } cases[] = {
        {"", "\"\""},
        {"abc", "\"abc\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\b", "\"a\\\\b\""},
        {"a/b", "\"a/b\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::string_view("a\0b", 3), "\"a\\u0000b\""},
        {"\x01\x0b\x1f", "\"\\u0001\\u000b\\u001f\""},
        {"\x7f", "\"\x7f\""},
        {"J\xC3\xBCrgen \xE2\x82\xAC", "\"J\xC3\xBCrgen \xE2\x82\xAC\""}, // UTF-8 unchanged
        {"\xFF\x80", "\"\xFF\x80\""},                                     // and other bytes too
    };
    for (const auto& c : cases) {
        std::string out = "[";
        text::AppendJsonString(out, c.text);
        EXPECT_EQ(out, "[" + std::string(c.literal)) << c.literal;
    }
}

} // namespace
