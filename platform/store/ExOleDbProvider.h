#pragma once

// The store's data provider ("ExOLEDB.DataSource"), which the platform's registration table
// makes available to ADO connections.

#include "platform/core/Provider.h"

#include <memory>
#include <string>

namespace platform::store {

// A session on the store of the server folder EXHOST_ROOT names, for a store URL. Fails for an
// empty URL, another server, an unknown domain folder or an unknown mailbox.
std::unique_ptr<ado::ProviderSession> OpenStoreSession(const std::string& connectionString,
                                                       const std::string& user,
                                                       const std::string& password);

} // namespace platform::store
