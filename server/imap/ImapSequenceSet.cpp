// Parses IMAP sequence sets and tells whether a number falls in one.

#include "server/imap/ImapSequenceSet.h"

#include <algorithm>

namespace server::imap {

namespace {

// A number (nz-number) or "*" (returned as 0).
std::optional<std::uint32_t> ReadNumber(std::string_view text) {
    if (text == "*")
        return 0u;
    if (text.empty() || text.size() > 10 || text[0] == '0')
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xffffffffu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

} // namespace

std::optional<SequenceSet> SequenceSet::Parse(std::string_view text) {
    SequenceSet set;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        const auto item = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const auto colon = item.find(':');
        const auto first = ReadNumber(item.substr(0, colon));
        const auto last =
            colon == std::string_view::npos ? first : ReadNumber(item.substr(colon + 1));
        if (!first || !last)
            return std::nullopt;
        set.ranges_.emplace_back(*first, *last);
        if (comma == std::string_view::npos)
            return set;
        start = comma + 1;
    }
}

bool SequenceSet::Contains(std::uint32_t number, std::uint32_t largest) const {
    for (auto [first, last] : ranges_) {
        const auto low = first == kStar ? largest : first;
        const auto high = last == kStar ? largest : last;
        if (number >= std::min(low, high) && number <= std::max(low, high))
            return true;
    }
    return false;
}

std::string FormatNumberSet(const std::vector<std::uint32_t>& numbers) {
    std::string out;
    for (std::size_t i = 0; i < numbers.size();) {
        auto last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1)
            ++last;
        if (!out.empty())
            out += ',';
        out += std::to_string(numbers[i]);
        if (last > i)
            out += ':' + std::to_string(numbers[last]);
        i = last + 1;
    }
    return out;
}

} // namespace server::imap
