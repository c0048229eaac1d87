#pragma once

// Delivery as a server does it for many sessions at once: each delivery's event work (the begin
// phase, where a sink may ask the directory) runs on its caller's thread, side by side with the
// others, and only the writes share a batch's transaction and its synced commit.

#include <string>
#include <vector>

namespace platform::store {

class GroupCommit;
class StorePool;

// Delivers the message into the Inbox of every mailbox that `mailboxUrls` names (each once),
// all or none: when a sink refuses or a write fails, none is kept and the aborted phase runs.
// Returns once the batch that holds the writes is on disk and the end phase has run, with the
// URLs of the stored items in the order of `mailboxUrls`.
std::vector<std::string> DeliverInBatch(StorePool& stores, GroupCommit& commits,
                                        const std::vector<std::string>& mailboxUrls,
                                        const std::string& rfc5322);

} // namespace platform::store
