#include "MailboxDelivery.h"

#include "RecipientLookup.h"
#include "ServerContext.h"

#include "platform/core/Text.h"
#include "platform/store/Delivery.h"
#include "platform/store/Store.h"

namespace exhost {

MailboxDelivery::MailboxDelivery(platform::host::ServerFolder folder)
    : folder_(std::move(folder)), names_(folder_.ReadMachineNames()) {
}

std::string MailboxDelivery::ResolveRecipient(const std::string& address) const {
    const auto& forest = names_.forestDnsName.empty() ? names_.domainDnsName : names_.forestDnsName;
    const auto alias = FindMailboxAlias(forest, address);
    const auto store = OpenStore(folder_);
    for (const auto& mailbox : store->Mailboxes(names_.domainDnsName))
        if (platform::text::EqualsIgnoreCase(mailbox, alias))
            return mailbox;
    throw UsageError("mailbox " + alias + " is not on this server (domain folder " +
                     names_.domainDnsName + ")");
}

std::vector<std::string> MailboxDelivery::Deliver(const std::vector<std::string>& aliases,
                                                  const std::string& message) const {
    // A store of its own per delivery: a store file that was replaced or removed meanwhile is
    // noticed here instead of being written through a stale handle.
    const auto store = OpenStore(folder_);
    std::vector<std::string> urls;
    store->BeginTransaction();
    try {
        for (const auto& alias : aliases)
            urls.push_back(
                platform::store::DeliverMessage(*store, names_.domainDnsName, alias, message));
        store->CommitTransaction();
    } catch (...) {
        store->RollbackTransaction();
        throw;
    }
    return urls;
}

} // namespace exhost
