#pragma once

// The sink's registration on one mailbox, tried under each URL form the mailbox may answer to
// (its mail address's domain, the site's http and file URLs, by local part and by alias) until
// one works. Only the last attempts of each kind write their failure to the log.

#include "platform/core/Ado.h"
#include "setup/ErrorLog.h"
#include "setup/MailboxEntry.h"
#include "setup/MailboxSite.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lorvanta::setup {

// The registration item's name in every registered folder.
inline constexpr const char* kRegistrationName = "Lorvanta.reg";
// The folder of a system mailbox that holds the store-wide registrations.
inline constexpr const char* kGlobalEventsFolder = "StoreEvents/GlobalEvents";

// Creates the registration in the mailbox's folder (`folderName`: "inbox" or the global events
// folder) with that match scope.
void RegisterMailbox(ErrorLog& log, const MailboxSite& site, const EntryFields& entry,
                     const std::string& folderName, const std::string& matchScope);

// Deletes the registration from the mailbox's folder.
void UnregisterMailbox(ErrorLog& log, const MailboxSite& site, const EntryFields& entry,
                       const std::string& folderName);

// 1 when the mailbox's folder holds the registration, 0 when not, -1 when no URL form answered.
// `storeConnection` is the window's store connection, lent to each lookup.
std::int16_t LookUpRegistration(ErrorLog& log, const MailboxSite& site, const std::string& alias,
                                const std::string& localPart, const std::string& folderName,
                                std::shared_ptr<platform::ado::Connection>& storeConnection);

} // namespace lorvanta::setup
