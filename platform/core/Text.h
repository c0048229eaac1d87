#pragma once

// Text helpers with the platform's rules: ASCII-only lower-casing for names, the space-only blank,
// UTF-8 well-formedness and case-insensitive comparison that folds non-ASCII letters too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::text {

// A letter A-Z in lower case; every other byte as it is. For names that are ASCII by rule
// (protocol keywords, property and attribute names, ProgIDs), where locale and Unicode must not
// matter.
constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
// The text with A-Z in lower case, every other byte as it is.
std::string AsciiLower(std::string text);
// The text with a-z in upper case, every other byte as it is: protocol keywords as replies
// write them.
std::string AsciiUpper(std::string_view text);

// Pointers to the texts, then a null pointer: for C interfaces that take an array of char* (a
// program's arguments and environment, LDAP attribute lists). Valid while `texts` is unchanged.
std::vector<char*> NullTerminated(std::vector<std::string>& texts);

// Removes leading and trailing blanks. A blank is the space character only; tabs stay.
std::string_view TrimBlanks(std::string_view text);

// Removes leading and trailing spaces and tabs: the white space of mail header fields (RFC 5322's
// WSP), where a tab counts as much as a space.
std::string_view TrimSpacesAndTabs(std::string_view text);

// True when the text is empty or consists of blanks only.
bool IsBlank(std::string_view text);

// The value of a hexadecimal digit (either case), or -1 for any other character.
int HexDigitValue(char c);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool IsUtf8(std::string_view text);

// Equality without regard to letter case, folding non-ASCII letters too (Unicode simple
// case folding). Texts are UTF-8.
bool EqualsIgnoreCase(std::string_view left, std::string_view right);

// A key for the text that two texts share exactly when EqualsIgnoreCase holds for them, for
// finding texts again without regard to letter case in constant time. Not for display.
std::string CaseFoldedKey(std::string_view text);

// Texts remembered without regard to letter case (EqualsIgnoreCase's rule), for a million of
// them (a folder's keywords) as well as for a few: the keys lie side by side in one vector and
// an open-addressing table holds their positions, so remembering a text allocates nothing but
// its key, where a node-based set spent most of a large SELECT allocating and freeing nodes.
class CaseInsensitiveSet {
public:
    // Remembers the text; false when one equal to it without regard to case was there already.
    bool Insert(std::string_view text);
    bool Contains(std::string_view text) const;
    // Makes room for `count` texts at once, sparing the moves of a growing table.
    void Reserve(std::size_t count);

private:
    // The slot that holds `key`, or the empty slot where it would go.
    std::size_t SlotOf(std::string_view key, std::size_t hash) const;
    void Rehash(std::size_t slots);

    std::vector<std::string> keys_;
    // 0: empty; else the key's hash in the high 32 bits (most keys that differ are told apart
    // without reading them) and 1 + its position in keys_ in the low ones.
    std::vector<std::uint64_t> slots_;
};

// If the first characters of `text` (as many as `prefix` has) equal `prefix` without regard to
// letter case, returns the number of bytes of `text` they take; otherwise nothing.
std::optional<std::size_t> MatchPrefixIgnoreCase(std::string_view text, std::string_view prefix);

// The text in lower case (full Unicode mapping, root locale).
std::string ToLower(std::string_view text);

// The text in upper case (full Unicode mapping, root locale).
std::string ToUpper(std::string_view text);

// Splits at every occurrence of the separator and keeps empty entries: "a,,b" gives a, "", b;
// "" gives one empty entry. The views point into `text`.
std::vector<std::string_view> Split(std::string_view text, char separator);

// Replaces every occurrence of one character by a text.
std::string ReplaceAll(std::string_view text, char from, std::string_view to);
// The same, appending to `out` without a temporary.
void AppendReplacing(std::string& out, std::string_view text, char from, std::string_view to);

} // namespace platform::text
