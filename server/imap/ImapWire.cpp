// Writes strings, mailbox names and flag lists the way IMAP responses carry them, and maps the
// store's flags and keywords to IMAP flags and back.

#include "server/imap/ImapWire.h"

#include "platform/core/Text.h"
#include "server/imap/ImapCommand.h"

#include <algorithm>

#include <unicode/ucnv.h>

namespace server::imap {

namespace {

constexpr const char* kHex = "0123456789ABCDEF";

struct FlagName {
    SystemFlag flag;
    const char* name;
};
constexpr FlagName kFlagNames[] = {{kAnswered, "\\Answered"},
                                   {kFlagged, "\\Flagged"},
                                   {kDeleted, "\\Deleted"},
                                   {kSeen, "\\Seen"},
                                   {kDraft, "\\Draft"}};

} // namespace

std::string Quote(std::string_view text) {
    bool quotable = text.size() < 1024;
    for (unsigned char c : text)
        if (c < 0x20 || c >= 0x7f)
            quotable = false;
    if (!quotable)
        return "{" + std::to_string(text.size()) + "}\r\n" + std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string NString(const std::optional<std::string>& text) {
    return text ? Quote(*text) : "NIL";
}

std::string MailboxNameOf(std::string_view utf8) {
    if (std::all_of(utf8.begin(), utf8.end(),
                    [](char c) { return c >= 0x20 && c < 0x7f && c != '&'; }))
        return std::string(utf8);
    // ICU's converter for this encoding; a name it cannot convert (not UTF-8) is shown as it is.
    UErrorCode status = U_ZERO_ERROR;
    std::string out(utf8.size() * 4 + 16, '\0');
    const auto length =
        ucnv_convert("IMAP-mailbox-name", "UTF-8", out.data(), static_cast<int32_t>(out.size()),
                     utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status))
        return std::string(utf8);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::optional<std::string> Utf8OfMailboxName(std::string_view name) {
    if (std::any_of(name.begin(), name.end(), [](char c) { return c < 0x20 || c >= 0x7f; }))
        return std::nullopt;
    if (name.find('&') == std::string_view::npos)
        return std::string(name);
    UErrorCode status = U_ZERO_ERROR;
    std::string out(name.size() * 3 + 16, '\0');
    const auto length =
        ucnv_convert("UTF-8", "IMAP-mailbox-name", out.data(), static_cast<int32_t>(out.size()),
                     name.data(), static_cast<int32_t>(name.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    // The converter replaces what it cannot read; only a name written the one way RFC 3501
    // allows comes back unchanged.
    if (MailboxNameOf(out) != name)
        return std::nullopt;
    return out;
}

std::optional<SystemFlag> SystemFlagNamed(std::string_view name) {
    const auto upper = AsciiUpper(name);
    for (const auto& entry : kFlagNames)
        if (upper == AsciiUpper(entry.name))
            return entry.flag;
    return std::nullopt;
}

std::string FlagList(unsigned flags, const std::vector<std::string>& keywords) {
    std::string list;
    AppendFlagList(list, flags, keywords);
    return list;
}

void AppendFlagList(std::string& out, unsigned flags, const std::vector<std::string>& keywords) {
    out += '(';
    bool first = true;
    for (const auto& entry : kFlagNames) {
        if (!(flags & entry.flag))
            continue;
        if (!first)
            out += ' ';
        first = false;
        out += entry.name;
    }
    for (const auto& keyword : keywords) {
        if (!first)
            out += ' ';
        first = false;
        // Most keywords (mail addresses) are atoms already.
        if (!keyword.empty() && keyword[0] != '\\' &&
            std::all_of(keyword.begin(), keyword.end(), [](char c) {
                return IsAtomChar(static_cast<unsigned char>(c)) && c != '&';
            }))
            out += keyword;
        else
            out += KeywordAtom(keyword);
    }
    out += ')';
}

std::string KeywordAtom(std::string_view keyword) {
    if (keyword.empty())
        return "&";
    std::string atom;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const auto c = static_cast<unsigned char>(keyword[i]);
        if (IsAtomChar(c) && c != '&' && !(i == 0 && c == '\\')) {
            atom += static_cast<char>(c);
            continue;
        }
        atom += '&';
        atom += kHex[c >> 4];
        atom += kHex[c & 15];
    }
    return atom;
}

std::string KeywordOfAtom(std::string_view atom) {
    if (atom == "&")
        return {};
    std::string keyword;
    for (std::size_t i = 0; i < atom.size(); ++i) {
        if (atom[i] == '&' && i + 2 < atom.size() &&
            platform::text::HexDigitValue(atom[i + 1]) >= 0 &&
            platform::text::HexDigitValue(atom[i + 2]) >= 0) {
            keyword += static_cast<char>(platform::text::HexDigitValue(atom[i + 1]) * 16 +
                                         platform::text::HexDigitValue(atom[i + 2]));
            i += 2;
            continue;
        }
        keyword += atom[i];
    }
    return keyword;
}

} // namespace server::imap
