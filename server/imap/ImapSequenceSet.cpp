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

NumberRanges SequenceSet::Ranges(std::uint32_t largest) const {
    NumberRanges ranges;
    ranges.reserve(ranges_.size());
    for (auto [first, last] : ranges_) {
        const auto low = first == kStar ? largest : first;
        const auto high = last == kStar ? largest : last;
        ranges.emplace_back(std::min(low, high), std::max(low, high));
    }
    return ranges;
}

bool SequenceSet::HasStar() const {
    return std::any_of(ranges_.begin(), ranges_.end(), [](const auto& range) {
        return range.first == kStar || range.second == kStar;
    });
}

std::string FormatNumberSet(const std::vector<std::uint32_t>& numbers) {
    NumberRanges ranges;
    ranges.reserve(numbers.size());
    for (const auto number : numbers)
        ranges.emplace_back(number, number);
    return FormatNumberSet(ranges);
}

std::string FormatNumberSet(const NumberRanges& ranges) {
    std::string out;
    for (std::size_t i = 0; i < ranges.size();) {
        const auto first = ranges[i].first;
        auto last = ranges[i].second;
        for (++i; i < ranges.size() && std::uint64_t{ranges[i].first} == std::uint64_t{last} + 1;
             ++i)
            last = ranges[i].second;
        if (!out.empty())
            out += ',';
        out += std::to_string(first);
        if (last != first)
            out += ':' + std::to_string(last);
    }
    return out;
}

NumberRanges Ascending(NumberRanges ranges) {
    std::sort(ranges.begin(), ranges.end());
    NumberRanges merged;
    for (const auto& range : ranges)
        if (!merged.empty() &&
            std::uint64_t{range.first} <= std::uint64_t{merged.back().second} + 1)
            merged.back().second = std::max(merged.back().second, range.second);
        else
            merged.push_back(range);
    return merged;
}

} // namespace server::imap
