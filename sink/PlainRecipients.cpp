// The recipient rules written the slow, obvious way, as the model the sink's scanner is checked
// against.

#include "sink/PlainRecipients.h"

#include "platform/core/Text.h"

#include <vector>

namespace recipientmodel {

namespace text = platform::text;

namespace {

bool IsCut(char c, char closing) {
    return c == ' ' || c == '"' || c == '\'' || c == closing;
}

} // namespace

std::string PlainCleanAddressList(std::string_view list) {
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

PlainReading PlainHeaderRecipients(std::string_view block) {
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
    return {PlainCleanAddressList(collected), false};
}

} // namespace recipientmodel
