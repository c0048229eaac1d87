#pragma once

// The addresses of an address field (From, To, Cc, ...: RFC 5322 section 3.4), read leniently:
// display names, angle addresses, comments, groups and obsolete source routes.

#include <string>
#include <string_view>
#include <vector>

namespace server::message {

struct AddressListEntry {
    enum class Kind {
        Mailbox,    // name, mailbox, host
        GroupStart, // name: the group's
        GroupEnd,
    };
    Kind kind = Kind::Mailbox;
    std::string name;    // the display name, quotes and escapes removed; "" when there is none
    std::string mailbox; // the local part
    std::string host;    // "" when the address has no "@"
};

// The entries in the order they stand; none for a blank value. Encoded words stay as they are.
std::vector<AddressListEntry> ParseAddressList(std::string_view value);

} // namespace server::message
