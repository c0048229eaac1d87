#pragma once

// Sequence sets ("1:4,7,9:*"): of message sequence numbers or of UIDs, "*" standing for the
// largest number in use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server::imap {

// Ranges of numbers, each first to last.
using NumberRanges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class SequenceSet {
public:
    // Nothing when the text is not a sequence set.
    static std::optional<SequenceSet> Parse(std::string_view text);

    // Whether `number` is in the set when "*" stands for `largest`. A range may be written
    // either way round ("9:3" is "3:9").
    bool Contains(std::uint32_t number, std::uint32_t largest) const;
    // The ranges in the order given, each low to high, "*" standing for `largest`.
    NumberRanges Ranges(std::uint32_t largest) const;
    // Whether "*" stands in it (sets of UIDs a client knows may not have it).
    bool HasStar() const;

private:
    static constexpr std::uint32_t kStar = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_; // kStar for "*"
};

// "3:5,9": the numbers in the order given, runs of consecutive ones as ranges (the form UIDPLUS's
// APPENDUID and COPYUID take).
std::string FormatNumberSet(const std::vector<std::uint32_t>& numbers);
// The same of ranges in the order given, a range that starts right after the one before it
// joined to it.
std::string FormatNumberSet(const NumberRanges& ranges);
// The numbers of `ranges` low to high, overlapping and touching ranges made one.
NumberRanges Ascending(NumberRanges ranges);

} // namespace server::imap
