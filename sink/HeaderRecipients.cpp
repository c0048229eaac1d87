// GetHeaderRecipients and CleanAddressList: who a message was sent to, from its transport header
// block. The rule, read line by line (a line ends at CR LF; blank lines are skipped):
// - A line "X-RecipientList:" (any letter case) with a non-blank value decides: that value, with
//   ";" replaced by ",", is the answer as it stands.
// - Otherwise a line beginning "To:" or "Cc:" (any letter case) starts collecting its text; the
//   lines after it that hold no ":" continue it (a tab in them becomes ","), the next line with
//   ":" ends it. The texts of several such headers are joined with ",".
// - The collected text is cleaned entry by entry (split at ","): blanks trimmed, an entry without
//   "@" dropped; the address runs back from the entry's first "@" to just after the last blank,
//   quote, apostrophe or "<" before it, and on to just before the first blank, quote, apostrophe
//   or ">" after it.
// sink/PlainRecipients.cpp says exactly this in plain code. The code here does the same in one
// pass over the block (classified by vector masks, SSE2, AVX2 or AVX-512, see AddressBytes.h),
// for speed on large headers; the unit tests and the fuzz target hold it to the plain reading.

#include "sink/LorvantaModule.h"

#include "sink/AddressBytes.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

namespace lorvanta {

namespace text = platform::text;

namespace {

constexpr std::string_view kRecipientListHeader = "X-RecipientList:";

bool IsCrLfAt(std::string_view text, std::size_t i) {
    return i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n';
}

// Where the line that begins at `start` ends: its CR LF, or the end of the text.
std::size_t LineEnd(std::string_view text, std::size_t start) {
    const char* data = text.data();
    for (;;) {
        const auto* cr =
            static_cast<const char*>(std::memchr(data + start, '\r', text.size() - start));
        if (!cr)
            return text.size();
        start = static_cast<std::size_t>(cr - data);
        if (IsCrLfAt(text, start))
            return start;
        ++start;
    }
}

// Where the line after the one that begins at `start` begins, or the end of the text.
std::size_t NextLine(std::string_view text, std::size_t start) {
    return std::min(LineEnd(text, start) + 2, text.size());
}

// A line that is empty once its blanks are trimmed.
[[gnu::always_inline]] inline bool IsBlankLineAt(std::string_view text, std::size_t start) {
    while (start < text.size() && text[start] == ' ')
        ++start;
    return start == text.size() || IsCrLfAt(text, start);
}

// Whether "TO:" or "CC:" begins the text at `start`, letters in either case. Neither has a letter
// that anything beyond ASCII folds to, so bytes decide.
bool IsAddressHeaderAt(std::string_view text, std::size_t start) {
    if (text.size() - start < 3 || text[start + 2] != ':')
        return false;
    const char first = static_cast<char>(text[start] | 0x20);
    const char second = static_cast<char>(text[start + 1] | 0x20);
    return (first == 't' && second == 'o') || (first == 'c' && second == 'c');
}

// Reduces "," separated entries to their bare addresses in one pass. An entry's address is the
// text between the last left cut before its first "@" and the first right cut after it. Only an
// "@" and what ends an address are stops on the way: where an address begins is found looking
// back from its "@" in the classified block. Addresses are copied out of the text where they
// stand; only one that runs over a line end of a folded header is ever buffered.
class AddressScanner {
public:
    explicit AddressScanner(std::string_view text)
        : text_(text), bytes_(reinterpret_cast<const unsigned char*>(text.data())) {
        // The addresses are parts of the text, so the result never outgrows it (with the ","
        // after the last address, and room for copying short addresses in one wide move).
        result_ = std::make_unique_for_overwrite<char[]>(text.size() + kCopyWidth + 1);
    }

    // Whether any To or Cc text was collected, for the rule that a new header is joined by ",".
    bool CollectedAny() const { return collectedAny_; }

    // The "," that joins a new header to what was collected before.
    void Separate() {
        if (state_ == Entry::AfterAt)
            Emit(true, bytes_, 0, 0);
        pending_.clear();
        state_ = Entry::BeforeAt;
    }

    std::string Finish() {
        Separate();
        // Without the "," after the last address.
        return std::string(result_.get(), written_ > 0 ? written_ - 1 : 0);
    }

    // Reads the text from `start` to its end as one "," separated list.
    void ReadList(std::size_t start) { Scan<false>(start, false); }

    // Why reading a To or Cc header stopped.
    enum class HeaderEnd : std::uint8_t {
        TextEnd,   // the text ended
        OtherLine, // at a line that is blank or may be an X-RecipientList header
        Colon,     // at a line holding a colon: a header of its own, which added nothing
    };
    struct HeaderStop {
        HeaderEnd reason;
        std::size_t line; // where the line it stopped at begins
    };

    // Reads a To or Cc header from `start`, with the lines that continue it. `folded` when the
    // line at `start` is itself a continuation (tabs separate, a colon ends the header).
    HeaderStop ReadHeader(std::size_t start, bool folded) { return Scan<true>(start, folded); }

private:
    enum class Entry : std::uint8_t { BeforeAt, AfterAt, Done };

    // What a line that turns out to hold a colon must undo.
    struct Mark {
        std::size_t resultSize;
        bool collectedAny;
        Entry state;
    };

    // Reads from `start`: a list to the end of the text, or (`lines`) a header to the line that
    // ends it.
    template <bool lines> HeaderStop Scan(std::size_t start, bool folded) {
        const std::size_t size = text_.size();
        // Locals, not members: the result's bytes may alias members, not locals.
        const auto* bytes = bytes_;
        auto state = state_;
        // Before and after "@": where the address begins in this line. Once the address is
        // done: from where a separator that begins the next entry may stand.
        std::size_t from = start;
        bool carried = true; // whether `pending_` is the start of the address
        std::size_t line = start;
        Mark mark{written_, collectedAny_, state};
        BlockClasses block; // a local copy stays in registers while the result grows
        std::size_t base = std::string_view::npos;
        // What ends the address being read, what the scan waits for otherwise: for this block
        // and whether the line is a continuation.
        std::uint64_t separators = 0, afterAtStops = 0, otherStops = 0;
        const auto chooseStops = [&] {
            separators = block.comma | (folded ? block.tab : 0);
            const auto lineStops = lines ? block.cr | (folded ? block.colon : 0) : 0;
            afterAtStops = block.rightCut | separators | lineStops;
            otherStops = block.at | lineStops;
        };
        std::size_t i = start;
        while (i < size) {
            if ((i & ~std::size_t{63}) != base) {
                base = i & ~std::size_t{63};
                block = BlockAt(base);
                chooseStops();
            }
            const auto stops = (state == Entry::AfterAt ? afterAtStops : otherStops) &
                               (~std::uint64_t{0} << (i - base));
            if (!stops) {
                i = std::min(base + 64, size);
                continue;
            }
            const auto offset = std::countr_zero(stops);
            const auto bit = std::uint64_t{1} << offset;
            i = base + static_cast<std::size_t>(offset);
            if (lines && (block.cr & bit)) {
                if (i + 1 == size || bytes[i + 1] != '\n') [[unlikely]] {
                    ++i; // a lone CR is part of the text
                    continue;
                }
                EndLine(block, bytes, state, folded, line, from, carried, i);
                const auto next = i + 2;
                if (next >= size) [[unlikely]] {
                    state_ = state;
                    return {HeaderEnd::TextEnd, size};
                }
                const auto first = bytes[next];
                if (first == 'X' || first == 'x' ||
                    ((first == ' ' || first == '\r') && IsBlankLineAt(text_, next))) [[unlikely]] {
                    state_ = state;
                    return {HeaderEnd::OtherLine, next};
                }
                // The next line continues the header, unless it holds a colon.
                if (!folded) {
                    folded = true;
                    chooseStops();
                }
                line = from = i = next;
                carried = true;
                mark = {written_, collectedAny_, state};
                continue;
            }
            if (lines && (block.colon & bit)) [[unlikely]] {
                written_ = mark.resultSize;
                collectedAny_ = mark.collectedAny;
                state_ = mark.state;
                return {HeaderEnd::Colon, line};
            }
            if (state == Entry::AfterAt) { // a right cut or a separator ends the address
                Emit(carried, bytes, from, i);
                state = (separators & bit) ? Entry::BeforeAt : Entry::Done;
                from = i + 1;
                carried = false;
            } else { // an "@"
                const auto begin =
                    LastBoundary(block, bytes, from, i, folded, state == Entry::Done);
                if (state == Entry::Done && !begin.separator) {
                    from = ++i; // still the entry whose address is done
                    continue;
                }
                if (begin.last != std::string_view::npos) {
                    from = begin.last + 1;
                    carried = false;
                }
                state = Entry::AfterAt;
            }
            ++i;
        }
        EndLine(block, bytes, state, folded, line, from, carried, size);
        state_ = state;
        return {HeaderEnd::TextEnd, size};
    }

    // The line [line, end) is read: keep what of it an address running on into the next line
    // would begin with.
    [[gnu::always_inline]] void EndLine(const BlockClasses& block, const unsigned char* bytes,
                                        Entry& state, bool folded, std::size_t line,
                                        std::size_t from, bool carried, std::size_t end) {
        if (end > line)
            collectedAny_ = true;
        if (state != Entry::AfterAt) {
            const auto begin = LastBoundary(block, bytes, from, end, folded, state == Entry::Done);
            if (state == Entry::Done) {
                if (!begin.separator) {
                    pending_.clear();
                    return;
                }
                state = Entry::BeforeAt;
            }
            if (begin.last != std::string_view::npos) {
                from = begin.last + 1;
                carried = false;
            }
        }
        if (!carried)
            pending_.clear();
        if (end > from)
            pending_.append(reinterpret_cast<const char*>(bytes) + from, end - from);
    }

    struct Boundary {
        bool separator;   // whether a separator stands in the range
        std::size_t last; // the last separator or left cut in it, or npos
    };

    // Looks back over [from, to) for where an address may begin: after the last separator or left
    // cut. `needSeparator` when an entry whose address is done only ends at a separator. The
    // block, when it holds `to`, answers for its part at once.
    [[gnu::always_inline]] static Boundary LastBoundary(const BlockClasses& block,
                                                        const unsigned char* bytes,
                                                        std::size_t from, std::size_t to,
                                                        bool folded, bool needSeparator) {
        Boundary found{false, std::string_view::npos};
        if (block.data == bytes && to > block.base && to - block.base < 64) {
            const auto start = std::max(from, block.base);
            const auto range = ((std::uint64_t{1} << (to - block.base)) - 1) &
                               (~std::uint64_t{0} << (start - block.base));
            const auto separators = (block.comma | (folded ? block.tab : 0)) & range;
            const auto either = separators | (block.leftCut & range);
            if (either)
                found.last = block.base + 63 - static_cast<std::size_t>(std::countl_zero(either));
            found.separator = separators != 0;
            if (found.separator || (either && !needSeparator))
                return found;
            to = start;
        }
        const std::uint8_t separatorClasses = folded ? kComma | kTab : kComma;
        while (to > from) {
            const auto cls = kByteClasses[bytes[--to]];
            if (!(cls & (separatorClasses | kLeftCut)))
                continue;
            if (found.last == std::string_view::npos)
                found.last = to;
            if (cls & separatorClasses) {
                found.separator = true;
                return found;
            }
            if (!needSeparator)
                return found;
        }
        return found;
    }

    // The classes of the block at `base`, classified a few blocks ahead.
    BlockClasses BlockAt(std::size_t base) {
        const auto index = (base - aheadBase_) / 64;
        if (base < aheadBase_ || index >= aheadCount_) {
            aheadBase_ = base;
            aheadCount_ = ClassifyBlocks(bytes_, base, text_.size(), ahead_.data(), ahead_.size());
            return ahead_[0];
        }
        return ahead_[index];
    }

    // Appends the address that ends with text [from, to); `carried` when it began on an
    // earlier line.
    [[gnu::always_inline]] void Emit(bool carried, const unsigned char* bytes, std::size_t from,
                                     std::size_t to) {
        char* out = result_.get() + written_;
        if (carried) {
            std::memcpy(out, pending_.data(), pending_.size());
            out += pending_.size();
        }
        const auto length = to - from;
        // Most addresses are short: one fixed-size move, when the text has the bytes to read.
        if (length <= kCopyWidth && from + kCopyWidth <= text_.size())
            std::memcpy(out, bytes + from, kCopyWidth);
        else
            std::memcpy(out, bytes + from, length);
        out += length;
        *out++ = ','; // dropped after the last address, so no test for the first one
        written_ = static_cast<std::size_t>(out - result_.get());
    }

    static constexpr std::size_t kCopyWidth = 32;
    std::string_view text_;
    const unsigned char* bytes_;
    std::unique_ptr<char[]> result_;
    std::size_t written_ = 0; // bytes of `result_` in use
    std::string pending_;     // the address so far, when it began on an earlier line and runs on
    bool collectedAny_ = false;
    Entry state_ = Entry::BeforeAt;
    std::array<BlockClasses, 4> ahead_; // the block the scan is in and those after it
    std::size_t aheadBase_ = 0;
    std::size_t aheadCount_ = 0;
};

// Reading state of one header block.
class HeaderScan {
public:
    explicit HeaderScan(std::string_view block) : block_(block), addresses_(block) {}

    void Run() {
        for (std::size_t line = 0; line < block_.size();)
            line = ReadFrom(line);
    }

    std::string Result() {
        if (!recipientList_.empty())
            return text::ReplaceAll(recipientList_, ';', ",");
        return addresses_.Finish();
    }

private:
    // Reads from the line that begins at `start`; returns where the next line to read begins,
    // or npos once the scan is complete.
    std::size_t ReadFrom(std::size_t start) {
        if (IsBlankLineAt(block_, start))
            return NextLine(block_, start);
        if (block_[start] == 'X' || block_[start] == 'x') {
            const auto line = block_.substr(start, LineEnd(block_, start) - start);
            if (auto length = text::MatchPrefixIgnoreCase(line, kRecipientListHeader)) {
                const auto value = text::TrimBlanks(line.substr(*length));
                if (!value.empty()) {
                    recipientList_.assign(value);
                    return std::string_view::npos;
                }
            }
        }
        if (inAddressHeader_)
            return Follow(addresses_.ReadHeader(start, true));
        if (IsAddressHeaderAt(block_, start)) {
            inAddressHeader_ = true;
            if (addresses_.CollectedAny())
                addresses_.Separate();
            return Follow(addresses_.ReadHeader(start + 3, false));
        }
        return NextLine(block_, start);
    }

    std::size_t Follow(AddressScanner::HeaderStop stop) {
        if (stop.reason == AddressScanner::HeaderEnd::Colon)
            inAddressHeader_ = false;
        return stop.line;
    }

    std::string_view block_;
    AddressScanner addresses_;
    std::string recipientList_; // the X-RecipientList value, once one with a value is seen
    bool inAddressHeader_ = false;
};

} // namespace

std::string GetHeaderRecipients(std::string_view headerText) {
    if (headerText.empty())
        return {};
    std::optional<HeaderScan> scan;
    try {
        scan.emplace(headerText);
        scan->Run();
    } catch (...) {
        // Out of memory while collecting: go on with what was collected.
    }
    try {
        return scan ? scan->Result() : std::string();
    } catch (...) {
        return {};
    }
}

std::string CleanAddressList(std::string_view addressList) {
    if (addressList.empty())
        return {};
    try {
        AddressScanner scanner(addressList);
        scanner.ReadList(0);
        return scanner.Finish();
    } catch (...) {
        return {};
    }
}

} // namespace lorvanta
