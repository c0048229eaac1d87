#pragma once

// The text of one entry of the mailbox lists: display name, home server, mail address and alias
// joined by " / ". Entries are read back from the end, since a display name may hold " / ".

#include <string>

namespace lorvanta::setup {

std::string MailboxEntry(const std::string& displayName, const std::string& homeServer,
                         const std::string& mailAddress, const std::string& alias);

struct EntryFields {
    std::string alias;
    std::string mailAddress;
    std::string localPart;  // before the last "@" (the whole address without a usable "@")
    std::string mailDomain; // after the last "@" (likewise the whole address)
};

EntryFields ParseMailboxEntry(std::string text);

// The short home server name of a directory msExchHomeServerName value: upper case, the text
// after its last "CN=" (the whole value when nothing follows the last "CN=" or there is none).
std::string HomeServerName(const std::string& homeServerValue);

// The mail address up to its first "@"; the whole address when it has none or begins with it.
std::string MailLocalPart(const std::string& mailAddress);

} // namespace lorvanta::setup
