#pragma once

// Delivery as a server does it for many sessions at once: each delivery's event work (the begin
// phase, where a sink may ask the directory) runs on its caller's thread, side by side with the
// others, and only the writes share a batch's transaction and its synced commit.

#include "platform/store/Delivery.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::host {
class ServerFolder;
}

namespace platform::store {

class GroupCommit;
class StorePool;

// Group commits for the folder's store whose batches are written on stores of their own: SQLite
// drops a connection's page cache whenever another connection has written, so batches written on
// whichever store the deliveries had left free would read most of their pages again.
std::shared_ptr<GroupCommit> BatchCommitsFor(const host::ServerFolder& folder);

// Delivers the message into the Inbox of the mailbox of every copy (each mailbox named once),
// each copy with its own trace fields (NewDelivery), all or none: when a sink refuses or a
// write fails, none is kept and the aborted phase runs. Returns once the batch that holds the
// writes is on disk and the end phase has run, with the URLs of the stored items in the order
// of `copies`.
std::vector<std::string> DeliverInBatch(StorePool& stores, GroupCommit& commits,
                                        const std::vector<MailboxCopy>& copies,
                                        const std::string& rfc5322,
                                        const DeliveryOptions& options = {});

} // namespace platform::store
