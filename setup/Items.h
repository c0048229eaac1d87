#pragma once

// The store's event registration items: the hidden items that bind the sink to a folder.

#include "platform/core/Ado.h"
#include "setup/ErrorLog.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lorvanta::setup {

// Writes the registration item `itemName` into the folder (`folderName` "inbox" in any case: the
// mailbox's Inbox) and returns the folder's URL, or "" on failure.
std::string CreateEventRegistration(ErrorLog& log, const std::string& folderUrl,
                                    const std::string& folderName, const std::string& itemName,
                                    const std::string& eventMethod, const std::string& sinkClass,
                                    const std::string& matchScope, const std::string& criteria,
                                    const std::string& priority, bool logErrors);

// Deletes the item; false on failure, also when it does not exist.
bool DeleteEventRegistration(ErrorLog& log, const std::string& folderUrl,
                             const std::string& folderName, const std::string& itemName,
                             bool logErrors);

// 1 when an item of that display name matches the extra criteria in the folder, 0 when none,
// -1 when the lookup failed. `connection` is used when it is a connection (it should be closed
// and is left closed); otherwise one is made for the call and `connection` is emptied.
std::int16_t FindEventRegistration(ErrorLog& log, const std::string& folderUrl,
                                   const std::string& folderName, const std::string& displayName,
                                   const std::string& extraCriteria, bool logErrors,
                                   std::shared_ptr<platform::ado::Connection>& connection);

} // namespace lorvanta::setup
