#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"

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

// Reading state of one header block.
struct HeaderScan {
    std::string collected;     // To and Cc text so far
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
                collected += text::ReplaceAll(line, '\t', ",");
                return true;
            }
            inAddressHeader = false;
        }
        auto length = text::MatchPrefixIgnoreCase(line, "TO:");
        if (!length)
            length = text::MatchPrefixIgnoreCase(line, "CC:");
        if (length) {
            inAddressHeader = true;
            if (!collected.empty())
                collected += ',';
            collected += line.substr(*length);
        }
        return true;
    }
};

} // namespace

std::string GetHeaderRecipients(std::string_view headerText) {
    if (headerText.empty())
        return {};
    HeaderScan scan;
    try {
        std::size_t start = 0;
        for (;;) {
            const auto end = headerText.find(kLineBreak, start);
            const auto line = headerText.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            if (!scan.ReadLine(line) || end == std::string_view::npos)
                break;
            start = end + kLineBreak.size();
        }
    } catch (...) {
        // Out of memory while collecting: go on with what was collected.
    }
    try {
        if (!scan.recipientList.empty())
            return text::ReplaceAll(scan.recipientList, ';', ",");
        return CleanAddressList(scan.collected);
    } catch (...) {
        return {};
    }
}

std::string CleanAddressList(std::string_view addressList) {
    std::string result;
    if (addressList.empty())
        return result;
    try {
        for (auto entry : text::Split(addressList, ',')) {
            entry = text::TrimBlanks(entry);
            const auto at = entry.find('@');
            if (at == std::string_view::npos)
                continue;
            if (!result.empty())
                result += ',';
            result += BareAddress(entry, at);
        }
    } catch (...) {
        // Out of memory: keep the addresses cleaned so far.
    }
    return result;
}

} // namespace lorvanta
