// The rules that sort the rows of the mailbox query into the window's lists.

#include "setup/MailboxRowRules.h"

#include "platform/core/Text.h"
#include "setup/MailboxEntry.h"
#include "setup/MailboxRegistrations.h"

namespace lorvanta::setup {

namespace {

constexpr const char* kDisabledMarker = " [***DISABLED***]";

bool IsSystemMailbox(const std::string& alias) {
    return platform::text::MatchPrefixIgnoreCase(alias, "SystemMailbox{").has_value();
}

} // namespace

RowPlacement PlaceMailboxRow(const DirectoryRow& row, const std::string& shortComputerName,
                             bool showDisabled, const std::function<bool()>& accountDisabled,
                             const RegistrationLookUp& lookUp) {
    const auto homeServer = HomeServerName(row.homeServerValue);
    if (!platform::text::EqualsIgnoreCase(homeServer, shortComputerName))
        return {};
    const auto localPart = row.mailAddress.empty() ? std::string() : MailLocalPart(row.mailAddress);
    const auto entry = MailboxEntry(row.displayName, homeServer, row.mailAddress, row.alias);

    if (IsSystemMailbox(row.alias)) {
        // Store-wide registrations live in the system mailbox's global events folder.
        const bool registered = lookUp(row.alias, localPart, kGlobalEventsFolder) == 1;
        return {registered ? MailboxList::UnregisterStoreWide : MailboxList::RegisterStoreWide,
                entry};
    }
    if (accountDisabled()) {
        if (!showDisabled)
            return {};
        return {MailboxList::RegisterSelected,
                MailboxEntry(row.displayName + kDisabledMarker, homeServer, row.mailAddress,
                             row.alias)};
    }
    const bool registered = lookUp(row.alias, localPart, "inbox") == 1;
    return {registered ? MailboxList::UnregisterSelected : MailboxList::RegisterSelected, entry};
}

} // namespace lorvanta::setup
