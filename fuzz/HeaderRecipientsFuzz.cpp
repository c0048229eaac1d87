// Recipient extraction from a transport header block, and the address cleaning under it.
//
// Besides "does not crash", each result is compared with a plain line-by-line reading of the
// block (slow, but easy to check by eye), so a faster rewrite of the extraction cannot drift
// from what it must give; and the shape of every cleaned address is checked.

#include "FuzzCheck.h"

#include "platform/core/Text.h"
#include "sink/LorvantaModule.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace text = platform::text;

bool IsCut(char c, char closing) {
    return c == ' ' || c == '"' || c == '\'' || c == closing;
}

// One entry at a time: trim, find "@", cut left, cut right.
std::string PlainClean(std::string_view list) {
    std::string result;
    for (auto entry : text::Split(list, ',')) {
        entry = text::TrimBlanks(entry);
        auto at = entry.find('@');
        if (at == std::string_view::npos)
            continue;
        for (std::size_t i = at; i > 0; --i) {
            if (IsCut(entry[i - 1], '<')) {
                entry.remove_prefix(i);
                break;
            }
        }
        at = entry.find('@');
        for (std::size_t i = at + 1; i < entry.size(); ++i) {
            if (IsCut(entry[i], '>')) {
                entry = entry.substr(0, i);
                break;
            }
        }
        if (!result.empty())
            result += ',';
        result += entry;
    }
    return result;
}

struct PlainReading {
    std::string recipients;
    bool fromRecipientList = false;
};

// The whole block split into lines first, then read with the collected text kept whole.
PlainReading PlainRecipients(std::string_view block) {
    if (block.empty())
        return {};
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const auto end = block.find("\r\n", start);
        lines.push_back(block.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 2;
    }
    std::string collected;
    bool inAddressHeader = false;
    for (auto line : lines) {
        if (text::IsBlank(line))
            continue;
        if (auto length = text::MatchPrefixIgnoreCase(line, "X-RecipientList:")) {
            const auto value = text::TrimBlanks(line.substr(*length));
            if (!value.empty())
                return {text::ReplaceAll(value, ';', ","), true};
        }
        if (inAddressHeader) {
            if (line.find(':') == std::string_view::npos) {
                collected += text::ReplaceAll(line, '\t', ",");
                continue;
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
    }
    return {PlainClean(collected), false};
}

// True when every CR in the text is followed by LF and every LF follows a CR.
bool OnlyCrlfPairs(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return true;
}

// Every entry of a cleaned list: holds "@", and no blank, quote, apostrophe; "<" may stand
// only after the "@" and ">" only before it.
void CheckCleanedEntries(std::string_view input, std::string_view cleaned) {
    if (cleaned.empty())
        return;
    for (auto entry : text::Split(cleaned, ',')) {
        const auto at = entry.find('@');
        fuzz::Check(at != std::string_view::npos, "a cleaned address holds \"@\"", input, cleaned);
        fuzz::Check(entry.find_first_of(" \"'") == std::string_view::npos,
                    "a cleaned address holds no blank, quote or apostrophe", input, cleaned);
        fuzz::Check(entry.substr(0, at).find('<') == std::string_view::npos &&
                        entry.substr(at).find('>') == std::string_view::npos,
                    "a cleaned address is cut at \"<\" before and \">\" after its \"@\"", input,
                    cleaned);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto recipients = lorvanta::GetHeaderRecipients(input);
    const auto plain = PlainRecipients(input);
    fuzz::Check(recipients == plain.recipients,
                "GetHeaderRecipients agrees with the line-by-line reading", input, recipients);
    if (!plain.fromRecipientList)
        CheckCleanedEntries(input, recipients);
    if (OnlyCrlfPairs(input))
        fuzz::Check(recipients.find_first_of("\r\n") == std::string::npos,
                    "no CR or LF in the recipients of a block with CRLF line ends", input,
                    recipients);

    const auto cleaned = lorvanta::CleanAddressList(input);
    fuzz::Check(cleaned == PlainClean(input),
                "CleanAddressList agrees with the entry-wise cleaning", input, cleaned);
    CheckCleanedEntries(input, cleaned);
    fuzz::Check(lorvanta::CleanAddressList(cleaned) == cleaned,
                "cleaning a cleaned list changes nothing", input, cleaned);
    return 0;
}
