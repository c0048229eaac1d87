// Recipient extraction from a transport header block, and the address cleaning under it.
//
// Besides "does not crash", each result is compared with a plain line-by-line reading of the
// block (slow, but easy to check by eye), so a faster rewrite of the extraction cannot drift
// from what it must give; and the shape of every cleaned address is checked.

#include "FuzzCheck.h"

#include "platform/core/Text.h"
#include "sink/LorvantaModule.h"
#include "sink/PlainRecipients.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

namespace text = platform::text;

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
    const auto plain = recipientmodel::PlainHeaderRecipients(input);
    fuzz::Check(recipients == plain.recipients,
                "GetHeaderRecipients agrees with the line-by-line reading", input, recipients);
    if (!plain.fromRecipientList)
        CheckCleanedEntries(input, recipients);
    if (OnlyCrlfPairs(input))
        fuzz::Check(recipients.find_first_of("\r\n") == std::string::npos,
                    "no CR or LF in the recipients of a block with CRLF line ends", input,
                    recipients);

    const auto cleaned = lorvanta::CleanAddressList(input);
    fuzz::Check(cleaned == recipientmodel::PlainCleanAddressList(input),
                "CleanAddressList agrees with the entry-wise cleaning", input, cleaned);
    CheckCleanedEntries(input, cleaned);
    fuzz::Check(lorvanta::CleanAddressList(cleaned) == cleaned,
                "cleaning a cleaned list changes nothing", input, cleaned);
    return 0;
}
