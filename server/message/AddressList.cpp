// Reads an address field character by character: quoted strings, comments, angle addresses and
// groups.

#include "server/message/AddressList.h"

#include "platform/core/Text.h"

namespace server::message {

namespace {

using Kind = AddressListEntry::Kind;

// One address of the list: "Name <local@host>" or "local@host".
void AddMailbox(std::vector<AddressListEntry>& entries, std::string_view display,
                std::string_view angle, bool hasAngle) {
    std::string name(platform::text::TrimSpacesAndTabs(display));
    std::string address(platform::text::TrimSpacesAndTabs(hasAngle ? angle : display));
    if (!hasAngle)
        name.clear();
    // A source route ("@a,@b:user@host") is obsolete: only the address after it counts.
    if (const auto colon = address.rfind(':'); hasAngle && colon != std::string::npos)
        address = address.substr(colon + 1);
    if (address.empty() && name.empty())
        return;
    const auto at = address.rfind('@');
    entries.push_back({Kind::Mailbox, std::move(name),
                       at == std::string::npos ? address : address.substr(0, at),
                       at == std::string::npos ? "" : address.substr(at + 1)});
}

} // namespace

std::vector<AddressListEntry> ParseAddressList(std::string_view text) {
    std::vector<AddressListEntry> entries;
    if (platform::text::TrimSpacesAndTabs(text).empty())
        return entries;
    std::string display, angle;
    bool inQuote = false, inAngle = false, hasAngle = false;
    int comment = 0;
    auto flush = [&] {
        AddMailbox(entries, display, angle, hasAngle);
        display.clear();
        angle.clear();
        hasAngle = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (comment > 0) {
            if (c == '\\')
                ++i;
            else if (c == '(')
                ++comment;
            else if (c == ')')
                --comment;
            continue;
        }
        if (inQuote) {
            if (c == '\\' && i + 1 < text.size())
                display += text[++i];
            else if (c == '"')
                inQuote = false;
            else
                display += c;
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                angle += c;
            continue;
        }
        switch (c) {
        case '"':
            inQuote = true;
            break;
        case '(':
            comment = 1;
            break;
        case '<':
            inAngle = true;
            hasAngle = true;
            break;
        case ',':
            flush();
            break;
        case ':':
            if (!hasAngle) {
                // A group: its name, its members, then its end.
                entries.push_back({Kind::GroupStart,
                                   std::string(platform::text::TrimSpacesAndTabs(display)), "",
                                   ""});
                display.clear();
                break;
            }
            display += c;
            break;
        case ';':
            flush();
            entries.push_back({Kind::GroupEnd, "", "", ""});
            break;
        default:
            if ((c == ' ' || c == '\t') && !display.empty() && display.back() == ' ')
                break;
            display += (c == '\t' ? ' ' : c);
        }
    }
    flush();
    return entries;
}

} // namespace server::message
