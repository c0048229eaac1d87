// The text rules everything else leans on.

#include "platform/core/Text.h"

#include <gtest/gtest.h>

namespace text = platform::text;

TEST(Text, TrimBlanksRemovesSpacesOnly) {
    EXPECT_EQ(text::TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(text::TrimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(text::TrimBlanks("   "), "");
    EXPECT_EQ(text::TrimBlanks(""), "");
    EXPECT_TRUE(text::IsBlank("    "));
    EXPECT_FALSE(text::IsBlank(" \t "));
}

TEST(Text, TrimSpacesAndTabsRemovesMailWhiteSpace) {
    EXPECT_EQ(text::TrimSpacesAndTabs(" \t a\tb \t"), "a\tb");
    EXPECT_EQ(text::TrimSpacesAndTabs("\r\na\r\n"), "\r\na\r\n");
    EXPECT_EQ(text::TrimSpacesAndTabs(" \t "), "");
    EXPECT_EQ(text::TrimSpacesAndTabs(""), "");
}

TEST(Text, AsciiUpperLeavesEveryOtherByte) {
    EXPECT_EQ(text::AsciiUpper("body.peek[header]<0.10>"), "BODY.PEEK[HEADER]<0.10>");
    EXPECT_EQ(text::AsciiUpper("\xc3\xa4z`{@["), "\xc3\xa4Z`{@[");
    EXPECT_EQ(text::AsciiUpper(""), "");
}

// The case-folded key agrees with the comparison, so that sets of keys find what it would.
TEST(Text, EqualsIgnoreCaseAndItsKey) {
    struct Case {
        const char* left;
        const char* right;
        bool equal;
    } cases[] = {
        {"Alice@Example.COM", "alice@example.com", true},
        {"alice@example.com", "alice@example.co", false},
        {"", "", true},
        {"J\xC3\x96RG@example.com", "j\xC3\xB6rg@EXAMPLE.com", true}, // Ö / ö
        {"\xD0\x98\xD0\x92\xD0\x90\xD0\x9D", "\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD",
         true},                                 // ИВАН / иван
        {"\xCE\xA9mega", "\xCF\x89MEGA", true}, // Ω / ω
        {"j\xC3\xB6rg", "jorg", false},
        {"T\xC5\xBF", "ts", true}, // long s folds to s: equal texts of different byte lengths
        {"abc", "ab", false},
        {"a\xC3\xB6", "a\xC3\xB6x", false},
        {"\xFF\xFE", "\xFF\xFE", true}, // malformed bytes still equal themselves
        {"\xFF", "\xFE", false},
        {"\xFF", "\xC3\xBF", false}, // a malformed byte is not the code point of its value
        {"\xFF\xFF", "\xC3\xBF", false},
        {"a\377B", "A\377b", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " / " + c.right);
        EXPECT_EQ(text::EqualsIgnoreCase(c.left, c.right), c.equal);
        EXPECT_EQ(text::CaseFoldedKey(c.left) == text::CaseFoldedKey(c.right), c.equal);
        text::CaseInsensitiveSet set;
        EXPECT_TRUE(set.Insert(c.left));
        EXPECT_EQ(set.Contains(c.right), c.equal);
        EXPECT_EQ(set.Insert(c.right), !c.equal);
    }
}

TEST(Text, MatchPrefixIgnoreCaseGivesBytesTaken) {
    EXPECT_EQ(text::MatchPrefixIgnoreCase("to: a@b", "TO:"), 3u);
    EXPECT_EQ(text::MatchPrefixIgnoreCase("TO", "TO:"), std::nullopt);
    EXPECT_EQ(text::MatchPrefixIgnoreCase(" To: a", "TO:"), std::nullopt);
    // Non-ASCII text is folded code point by code point: "ÄB" matches "äb" and takes 3 bytes.
    EXPECT_EQ(text::MatchPrefixIgnoreCase("\u00C4Bc", "\u00E4b"), 3u);
    EXPECT_EQ(text::MatchPrefixIgnoreCase("\xC3\x84:", "TO:"), std::nullopt);
}

TEST(Text, SplitKeepsEmptyEntries) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(text::Split("a,,b", ','), (V{"a", "", "b"}));
    EXPECT_EQ(text::Split(",a,", ','), (V{"", "a", ""}));
    EXPECT_EQ(text::Split("", ','), (V{""}));
    EXPECT_EQ(text::Split("abc", ','), (V{"abc"}));
}

TEST(Text, ReplaceAll) {
    EXPECT_EQ(text::ReplaceAll("a;b;;c", ';', ","), "a,b,,c");
    EXPECT_EQ(text::ReplaceAll("\ta\t", '\t', ","), ",a,");
    EXPECT_EQ(text::ReplaceAll("", ';', ","), "");
}

TEST(Text, ToLowerFoldsEveryLetter) {
    EXPECT_EQ(text::ToLower("MAIL01"), "mail01");
    EXPECT_EQ(text::ToLower("Corp.Example.COM"), "corp.example.com");
    EXPECT_EQ(text::ToLower("\xC3\x84RGER"), "\xC3\xA4rger"); // ÄRGER
    EXPECT_EQ(text::ToLower(""), "");
    EXPECT_EQ(text::ToUpper("cn=mail01"), "CN=MAIL01");
    EXPECT_EQ(text::ToUpper("stra\u00DFe"), "STRASSE"); // full mapping: ß -> SS
}
