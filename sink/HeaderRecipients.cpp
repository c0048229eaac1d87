#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace lorvanta {

namespace text = platform::text;

namespace {

constexpr std::string_view kRecipientListHeader = "X-RecipientList:";

// What a byte means to the scan. A blank, a double quote and an apostrophe cut an address on
// either side; "<" only on its left and ">" only on its right.
enum ByteClass : std::uint8_t {
    kComma = 1 << 0,    // ends an entry
    kTab = 1 << 1,      // ends an entry on a folded line
    kAt = 1 << 2,       // the first one in an entry anchors its address
    kLeftCut = 1 << 3,  // an address before "@" begins after the last of these
    kRightCut = 1 << 4, // an address after "@" ends before the first of these
    kColon = 1 << 5,    // a folded line holding one is a new header instead
    kReturn = 1 << 6,   // with a line feed after it, ends the line
};

constexpr std::array<std::uint8_t, 256> MakeByteClasses() {
    std::array<std::uint8_t, 256> classes{};
    classes[','] = kComma;
    classes['\t'] = kTab;
    classes['@'] = kAt;
    classes[' '] = kLeftCut | kRightCut;
    classes['"'] = kLeftCut | kRightCut;
    classes['\''] = kLeftCut | kRightCut;
    classes['<'] = kLeftCut;
    classes['>'] = kRightCut;
    classes[':'] = kColon;
    classes['\r'] = kReturn;
    return classes;
}

constexpr auto kByteClasses = MakeByteClasses();

// How a piece of text is read: which bytes end an entry and which end the piece early.
enum class Piece : std::uint8_t {
    List,       // a plain "," separated list
    HeaderLine, // the rest of a To or Cc line: ends at CR LF
    FoldedLine, // a continuation line: tabs separate too, and a colon makes it no continuation
};

constexpr std::uint8_t PieceStops(Piece piece) {
    switch (piece) {
    case Piece::List:
        return kComma;
    case Piece::HeaderLine:
        return kComma | kReturn;
    case Piece::FoldedLine:
        return kComma | kTab | kColon | kReturn;
    }
    return kComma;
}

// Reduces "," separated entries to their bare addresses in one pass, as the text arrives in
// pieces (the lines of folded headers). An entry's address is the text between the last left cut
// before its first "@" and the first right cut after it; the address is copied out of the piece
// where it stands, so only an address that runs over the end of a piece is ever buffered.
class AddressScanner {
public:
    explicit AddressScanner(std::size_t expectedSize) { result_.reserve(expectedSize / 2); }

    // The text an entry has collected, for the rule that a new header is joined with ",".
    bool CollectedAny() const { return collectedAny_; }

    // Reads `text` from `start` as `piece`. Returns where it stopped: at the CR of the CR LF that
    // ends a line, at a colon of a folded line, or at the end of the text. Stopping at a colon
    // changes nothing that Snapshot cannot undo.
    template <Piece piece> std::size_t Read(std::string_view text, std::size_t start) {
        constexpr std::uint8_t pieceStops = PieceStops(piece);
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t size = text.size();
        std::size_t candidate = start; // where the address being read begins in this piece
        bool carried = true;           // whether `pending_` is the start of that address
        std::uint8_t stops = pieceStops | EntryStops(state_);
        std::size_t i = start;
        for (;; ++i) {
            while (i < size && !(kByteClasses[bytes[i]] & stops))
                ++i;
            if (i == size)
                break;
            const auto cls = kByteClasses[bytes[i]];
            if (cls & kReturn) {
                if (i + 1 < size && bytes[i + 1] == '\n')
                    break;
                continue; // a lone CR is part of the text
            }
            if (cls & kColon)
                return i;
            if (cls & (kComma | kTab)) {
                if (state_ == Entry::AfterAt)
                    Emit(carried, text.substr(candidate, i - candidate));
                state_ = Entry::BeforeAt;
                candidate = i + 1;
                carried = false;
            } else if (state_ == Entry::BeforeAt) {
                if (cls & kAt) {
                    state_ = Entry::AfterAt;
                } else { // a left cut
                    candidate = i + 1;
                    carried = false;
                }
            } else if (state_ == Entry::AfterAt) { // a right cut
                Emit(carried, text.substr(candidate, i - candidate));
                state_ = Entry::Done;
                carried = false;
            }
            stops = pieceStops | EntryStops(state_);
        }
        if (i > start)
            collectedAny_ = true;
        if (!carried)
            pending_.clear();
        if (state_ != Entry::Done)
            pending_.append(text.substr(candidate, i - candidate));
        return i;
    }

    // The "," that joins a new header to what was collected before.
    void Separate() {
        if (state_ == Entry::AfterAt)
            Emit(true, {});
        pending_.clear();
        state_ = Entry::BeforeAt;
    }

    std::string Finish() {
        Separate();
        return std::move(result_);
    }

    // A folded line turns out to be a header of its own: what it added must go again.
    struct Mark {
        std::size_t resultSize;
        bool collectedAny;
        std::uint8_t state;
    };
    Mark Snapshot() const {
        return {result_.size(), collectedAny_, static_cast<std::uint8_t>(state_)};
    }
    void Restore(const Mark& mark) {
        result_.resize(mark.resultSize);
        collectedAny_ = mark.collectedAny;
        state_ = static_cast<Entry>(mark.state);
    }

private:
    enum class Entry : std::uint8_t { BeforeAt, AfterAt, Done };

    static constexpr std::uint8_t EntryStops(Entry state) {
        switch (state) {
        case Entry::BeforeAt:
            return kAt | kLeftCut;
        case Entry::AfterAt:
            return kRightCut;
        case Entry::Done:
            return 0;
        }
        return 0;
    }

    // Appends the address whose part in the current piece is `tail`; `carried` when it began in
    // an earlier piece.
    void Emit(bool carried, std::string_view tail) {
        if (!result_.empty())
            result_ += ',';
        if (carried)
            result_ += pending_;
        result_ += tail;
    }

    std::string result_;
    std::string pending_; // the address so far, when it began in an earlier piece and runs on
    bool collectedAny_ = false;
    Entry state_ = Entry::BeforeAt;
};

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

// Whether "TO:" or "CC:" begins the text at `start`, letters in either case. Neither has a letter
// that anything beyond ASCII folds to, so bytes decide.
bool IsAddressHeaderAt(std::string_view text, std::size_t start) {
    if (text.size() - start < 3 || text[start + 2] != ':')
        return false;
    const char first = static_cast<char>(text[start] | 0x20);
    const char second = static_cast<char>(text[start + 1] | 0x20);
    return (first == 't' && second == 'o') || (first == 'c' && second == 'c');
}

// A line that is empty once its blanks are trimmed.
bool IsBlankLineAt(std::string_view text, std::size_t start) {
    while (start < text.size() && text[start] == ' ')
        ++start;
    return start == text.size() || IsCrLfAt(text, start);
}

// Reading state of one header block.
class HeaderScan {
public:
    explicit HeaderScan(std::string_view block) : block_(block), addresses_(block.size()) {}

    void Run() {
        std::size_t start = 0;
        for (;;) {
            const auto end = ReadLine(start);
            if (end == std::string_view::npos || end == block_.size())
                return;
            start = end + 2;
        }
    }

    std::string Result() {
        if (!recipientList_.empty())
            return text::ReplaceAll(recipientList_, ';', ",");
        return addresses_.Finish();
    }

private:
    // Reads the line that begins at `start`; returns where it ends, or npos once the scan is done.
    std::size_t ReadLine(std::size_t start) {
        if (IsBlankLineAt(block_, start))
            return LineEnd(block_, start);
        if (block_[start] == 'X' || block_[start] == 'x') {
            const auto end = LineEnd(block_, start);
            const auto line = block_.substr(start, end - start);
            if (auto length = text::MatchPrefixIgnoreCase(line, kRecipientListHeader)) {
                const auto value = text::TrimBlanks(line.substr(*length));
                if (!value.empty()) {
                    recipientList_.assign(value);
                    return std::string_view::npos;
                }
            }
        }
        if (inAddressHeader_) {
            const auto mark = addresses_.Snapshot();
            const auto stop = addresses_.Read<Piece::FoldedLine>(block_, start);
            if (stop == block_.size() || IsCrLfAt(block_, stop))
                return stop;
            // A colon: this line is a header of its own.
            addresses_.Restore(mark);
            inAddressHeader_ = false;
        }
        if (IsAddressHeaderAt(block_, start)) {
            inAddressHeader_ = true;
            if (addresses_.CollectedAny())
                addresses_.Separate();
            return addresses_.Read<Piece::HeaderLine>(block_, start + 3);
        }
        return LineEnd(block_, start);
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
        AddressScanner scanner(addressList.size());
        scanner.Read<Piece::List>(addressList, 0);
        return scanner.Finish();
    } catch (...) {
        return {};
    }
}

} // namespace lorvanta
