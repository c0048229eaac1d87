#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <optional>

namespace lorvanta {

namespace text = platform::text;

namespace {

constexpr std::string_view kRecipientListHeader = "X-RecipientList:";
constexpr std::string_view kLineBreak = "\r\n";

bool IsAddressCut(char c, char closing) {
    return c == ' ' || c == '"' || c == '\'' || c == closing;
}

// The bare address of one trimmed entry that holds "@".
std::string_view BareAddress(std::string_view entry, std::size_t at) {
    for (std::size_t i = at; i-- > 0;) {
        if (IsAddressCut(entry[i], '<')) {
            entry.remove_prefix(i + 1);
            at -= i + 1;
            break;
        }
    }
    for (std::size_t i = at + 1; i < entry.size(); ++i) {
        if (IsAddressCut(entry[i], '>')) {
            entry = entry.substr(0, i);
            break;
        }
    }
    return entry;
}

// Cleans "," separated entries as they arrive, so that only the entry still being read is kept
// in full: the work per byte stays the same however long the To and Cc headers are.
class AddressCleaner {
public:
    explicit AddressCleaner(std::size_t expectedSize) { result_.reserve(expectedSize); }

    void Append(std::string_view text) { Feed(text, false); }
    // Appends with every tab read as a ",".
    void AppendFoldedLine(std::string_view line) { Feed(line, true); }
    std::string Finish() {
        CleanEntry(pending_);
        pending_.clear();
        return std::move(result_);
    }

private:
    // Entries that lie wholly inside `text` are cleaned where they stand; only the entry that
    // runs on past its end is copied.
    void Feed(std::string_view text, bool tabSeparates) {
        for (;;) {
            auto end = text.find(',');
            if (tabSeparates)
                end = std::min(end, text.substr(0, end).find('\t'));
            if (end == std::string_view::npos)
                break;
            const auto piece = text.substr(0, end);
            if (pending_.empty()) {
                CleanEntry(piece);
            } else {
                pending_.append(piece);
                CleanEntry(pending_);
                pending_.clear();
            }
            text.remove_prefix(end + 1);
        }
        pending_.append(text);
    }

    void CleanEntry(std::string_view entry) {
        entry = text::TrimBlanks(entry);
        const auto at = entry.find('@');
        if (at == std::string_view::npos)
            return;
        if (!result_.empty())
            result_ += ',';
        result_ += BareAddress(entry, at);
    }

    std::string pending_; // the entry not yet ended by ","
    std::string result_;
};

// Reading state of one header block.
struct HeaderScan {
    explicit HeaderScan(std::size_t blockSize) : addresses(blockSize) {}

    AddressCleaner addresses;  // To and Cc text so far, cleaned as it comes
    bool collectedAny = false; // whether any To or Cc text was collected
    std::string recipientList; // the X-RecipientList value, once one with a value is seen
    bool inAddressHeader = false;

    // Returns false once the scan is complete.
    bool ReadLine(std::string_view line) {
        if (text::IsBlank(line))
            return true;
        if (auto length = text::MatchPrefixIgnoreCase(line, kRecipientListHeader)) {
            auto value = text::TrimBlanks(line.substr(*length));
            if (!value.empty()) {
                recipientList.assign(value);
                return false;
            }
        }
        if (inAddressHeader) {
            if (line.find(':') == std::string_view::npos) {
                // A folded continuation of the To or Cc header.
                Collect(line, true);
                return true;
            }
            inAddressHeader = false;
        }
        auto length = text::MatchPrefixIgnoreCase(line, "TO:");
        if (!length)
            length = text::MatchPrefixIgnoreCase(line, "CC:");
        if (length) {
            inAddressHeader = true;
            if (collectedAny)
                addresses.Append(",");
            Collect(line.substr(*length), false);
        }
        return true;
    }

private:
    void Collect(std::string_view part, bool folded) {
        if (part.empty())
            return;
        collectedAny = true;
        if (folded)
            addresses.AppendFoldedLine(part);
        else
            addresses.Append(part);
    }
};

} // namespace

std::string GetHeaderRecipients(std::string_view headerText) {
    if (headerText.empty())
        return {};
    std::optional<HeaderScan> scan;
    try {
        scan.emplace(headerText.size());
        std::size_t start = 0;
        for (;;) {
            const auto end = headerText.find(kLineBreak, start);
            const auto line = headerText.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            if (!scan->ReadLine(line) || end == std::string_view::npos)
                break;
            start = end + kLineBreak.size();
        }
    } catch (...) {
        // Out of memory while collecting: go on with what was collected.
    }
    try {
        if (!scan)
            return {};
        if (!scan->recipientList.empty())
            return text::ReplaceAll(scan->recipientList, ';', ",");
        return scan->addresses.Finish();
    } catch (...) {
        return {};
    }
}

std::string CleanAddressList(std::string_view addressList) {
    if (addressList.empty())
        return {};
    try {
        AddressCleaner cleaner(addressList.size());
        cleaner.Append(addressList);
        return cleaner.Finish();
    } catch (...) {
        return {};
    }
}

} // namespace lorvanta
