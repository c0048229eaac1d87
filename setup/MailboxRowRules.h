#pragma once

// Which of the window's four lists a row of the mailbox query goes to, and as what entry:
// mailboxes homed on another server are left out; a system mailbox ("SystemMailbox{" in any
// letter case) goes to a store-wide list by its global events registration; a disabled account
// is offered for registration, marked, only while disabled accounts are shown, and is never
// looked up; every other mailbox goes by its Inbox registration.

#include <cstdint>
#include <functional>
#include <string>

namespace lorvanta::setup {

struct DirectoryRow {
    std::string displayName;     // cn
    std::string homeServerValue; // msExchHomeServerName
    std::string alias;           // mailNickName
    std::string mailAddress;     // mail
};

enum class MailboxList {
    None,
    RegisterStoreWide,
    UnregisterStoreWide,
    RegisterSelected,
    UnregisterSelected,
};

struct RowPlacement {
    MailboxList list = MailboxList::None;
    std::string entry;
};

// The registration state (1 registered, 0 not, -1 unknown) of the mailbox with that alias and
// mail local part, in its folder of that name.
using RegistrationLookUp = std::function<std::int16_t(
    const std::string& alias, const std::string& localPart, const std::string& folderName)>;

RowPlacement PlaceMailboxRow(const DirectoryRow& row, const std::string& shortComputerName,
                             bool showDisabled, const std::function<bool()>& accountDisabled,
                             const RegistrationLookUp& lookUp);

} // namespace lorvanta::setup
