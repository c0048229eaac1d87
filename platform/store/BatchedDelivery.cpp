// Delivers one message to many mailboxes with each delivery's events on the caller's thread and
// the writes of all of them joined into group commits.

#include "platform/store/BatchedDelivery.h"

#include "platform/store/Delivery.h"
#include "platform/store/GroupCommit.h"
#include "platform/store/PreparedSave.h"
#include "platform/store/StorePool.h"

#include <memory>

namespace platform::store {

std::shared_ptr<GroupCommit> BatchCommitsFor(const host::ServerFolder& folder) {
    return std::make_shared<GroupCommit>(
        [stores = StorePool::Open(folder)] { return stores->Take(); });
}

std::vector<std::string> DeliverInBatch(StorePool& stores, GroupCommit& commits,
                                        const std::vector<MailboxCopy>& copies,
                                        const std::string& rfc5322,
                                        const DeliveryOptions& options) {
    const auto store = stores.Take();
    // Destroying a prepared save that was not written runs its aborted phase.
    std::vector<std::unique_ptr<PreparedSave>> saves;
    for (const auto& copy : copies)
        saves.push_back(
            std::make_unique<PreparedSave>(*store, NewDelivery(*store, copy, rfc5322, options)));
    try {
        commits.Run([&](Store& batch) {
            for (auto& save : saves)
                save->Write(batch);
        });
    } catch (...) {
        for (auto& save : saves)
            save->Aborted();
        throw;
    }
    std::vector<std::string> urls;
    for (auto& save : saves) {
        save->Committed();
        urls.push_back(save->Save().location.Url());
    }
    return urls;
}

} // namespace platform::store
