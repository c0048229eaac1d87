// Text rules shared by the whole platform: ASCII lower-casing, blanks, UTF-8 checks and
// comparisons that ignore letter case through ICU's case folding.

#include "platform/core/Text.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <functional>

namespace platform::text {

std::string AsciiLower(std::string text) {
    for (auto& c : text)
        c = AsciiLower(c);
    return text;
}

std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (auto& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

std::vector<char*> NullTerminated(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

namespace {

// Code points past the Unicode range stand for malformed bytes, one each, so that malformed
// bytes compare equal only to the same bytes.
constexpr UChar32 kMalformedBase = 0x110000;

// Reads the next code point, or a stand-in for one malformed byte.
UChar32 NextCodePoint(std::string_view text, std::size_t& offset) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    auto position = static_cast<int32_t>(offset);
    UChar32 codePoint = 0;
    U8_NEXT(bytes, position, length, codePoint);
    if (codePoint < 0) {
        codePoint = kMalformedBase + bytes[offset];
        position = static_cast<int32_t>(offset + 1);
    }
    offset = static_cast<std::size_t>(position);
    return codePoint;
}

UChar32 Fold(UChar32 codePoint) {
    return codePoint >= kMalformedBase ? codePoint : u_foldCase(codePoint, U_FOLD_CASE_DEFAULT);
}

} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool IsUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

namespace {

std::string_view TrimAny(std::string_view text, std::string_view trimmed) {
    const auto first = text.find_first_not_of(trimmed);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(trimmed);
    return text.substr(first, last - first + 1);
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
    return TrimAny(text, " ");
}

std::string_view TrimSpacesAndTabs(std::string_view text) {
    return TrimAny(text, " \t");
}

bool IsBlank(std::string_view text) {
    return TrimBlanks(text).empty();
}

bool EqualsIgnoreCase(std::string_view left, std::string_view right) {
    // ASCII pairs are decided on the spot (simple folding maps one code point to one, and ASCII
    // letters only to ASCII); ICU takes over from the first non-ASCII byte.
    const auto common = std::min(left.size(), right.size());
    std::size_t i = 0;
    for (; i < common; ++i) {
        const auto l = static_cast<unsigned char>(left[i]);
        const auto r = static_cast<unsigned char>(right[i]);
        if (l >= 0x80 || r >= 0x80)
            break;
        if (AsciiLower(static_cast<char>(l)) != AsciiLower(static_cast<char>(r)))
            return false;
    }
    if (i == common)
        return left.size() == right.size();
    std::size_t l = i;
    std::size_t r = i;
    while (l < left.size() && r < right.size()) {
        if (Fold(NextCodePoint(left, l)) != Fold(NextCodePoint(right, r)))
            return false;
    }
    return l == left.size() && r == right.size();
}

std::string CaseFoldedKey(std::string_view text) {
    std::string key;
    key.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        const auto byte = static_cast<unsigned char>(text[offset]);
        if (byte < 0x80) {
            key += AsciiLower(static_cast<char>(byte));
            ++offset;
            continue;
        }
        const auto codePoint = Fold(NextCodePoint(text, offset));
        if (codePoint >= kMalformedBase) {
            // 0xFF never occurs in UTF-8: a malformed byte cannot meet a code point's bytes.
            key += '\xff';
            key += static_cast<char>(codePoint - kMalformedBase);
            continue;
        }
        char bytes[U8_MAX_LENGTH];
        std::int32_t length = 0;
        U8_APPEND_UNSAFE(reinterpret_cast<std::uint8_t*>(bytes), length, codePoint);
        key.append(bytes, static_cast<std::size_t>(length));
    }
    return key;
}

namespace {

constexpr std::uint64_t kPositionBits = 0xffffffffu;

std::uint64_t HashOf(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

} // namespace

bool CaseInsensitiveSet::Insert(std::string_view text) {
    auto key = CaseFoldedKey(text);
    const auto hash = HashOf(key);
    auto slot = slots_.empty() ? 0 : SlotOf(key, hash);
    if (!slots_.empty() && slots_[slot] != 0)
        return false;
    // At most half the slots are taken, so that a probe ends soon.
    if ((keys_.size() + 1) * 2 > slots_.size()) {
        Rehash(std::max<std::size_t>(16, slots_.size() * 2));
        slot = SlotOf(key, hash);
    }
    keys_.push_back(std::move(key));
    slots_[slot] = (hash & ~kPositionBits) | keys_.size();
    return true;
}

bool CaseInsensitiveSet::Contains(std::string_view text) const {
    if (slots_.empty())
        return false;
    const auto key = CaseFoldedKey(text);
    return slots_[SlotOf(key, HashOf(key))] != 0;
}

std::size_t CaseInsensitiveSet::SlotOf(std::string_view key, std::size_t hash) const {
    const auto mask = slots_.size() - 1;
    for (auto slot = hash & mask;; slot = (slot + 1) & mask) {
        const auto taken = slots_[slot];
        if (taken == 0 || ((taken & ~kPositionBits) == (hash & ~kPositionBits) &&
                           keys_[(taken & kPositionBits) - 1] == key))
            return slot;
    }
}

void CaseInsensitiveSet::Reserve(std::size_t count) {
    keys_.reserve(count);
    std::size_t slots = 16;
    while (slots < count * 2)
        slots *= 2;
    if (slots > slots_.size())
        Rehash(slots);
}

void CaseInsensitiveSet::Rehash(std::size_t slots) {
    slots_.assign(slots, 0);
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const auto hash = HashOf(keys_[i]);
        slots_[SlotOf(keys_[i], hash)] = (hash & ~kPositionBits) | (i + 1);
    }
}

std::optional<std::size_t> MatchPrefixIgnoreCase(std::string_view text, std::string_view prefix) {
    // Fast path while both sides are ASCII: an ASCII letter folds only to ASCII, so the first
    // differing ASCII pair decides. Called on every header line, so rejects must be cheap.
    std::size_t i = 0;
    for (; i < prefix.size() && i < text.size(); ++i) {
        const auto t = static_cast<unsigned char>(text[i]);
        const auto p = static_cast<unsigned char>(prefix[i]);
        if (t >= 0x80 || p >= 0x80)
            break;
        if (AsciiLower(static_cast<char>(t)) != AsciiLower(static_cast<char>(p)))
            return std::nullopt;
    }
    if (i == prefix.size())
        return prefix.size();
    if (i == text.size())
        return std::nullopt;
    // Non-ASCII text: fold code point by code point from the first non-ASCII character on.
    std::size_t t = i;
    std::size_t p = i;
    while (p < prefix.size()) {
        if (t >= text.size())
            return std::nullopt;
        if (Fold(NextCodePoint(text, t)) != Fold(NextCodePoint(prefix, p)))
            return std::nullopt;
    }
    return t;
}

std::string ToLower(std::string_view text) {
    std::string lower;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(lower);
    return lower;
}

std::string ToUpper(std::string_view text) {
    std::string upper;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toUpper(icu::Locale::getRoot())
        .toUTF8String(upper);
    return upper;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string ReplaceAll(std::string_view text, char from, std::string_view to) {
    std::string result;
    AppendReplacing(result, text, from, to);
    return result;
}

void AppendReplacing(std::string& out, std::string_view text, char from, std::string_view to) {
    for (;;) {
        const auto found = text.find(from);
        if (found == std::string_view::npos) {
            out.append(text);
            return;
        }
        out.append(text.substr(0, found));
        out.append(to);
        text.remove_prefix(found + 1);
    }
}

} // namespace platform::text
