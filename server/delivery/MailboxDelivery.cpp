// Resolves recipient addresses to mailboxes of this server (postmaster included) and saves the
// message as a delivered item into each mailbox's Inbox.

#include "server/delivery/MailboxDelivery.h"

#include "server/delivery/NoSuchRecipient.h"
#include "server/delivery/RecipientLookup.h"

#include "server/log/LogId.h"

#include "platform/core/Text.h"
#include "platform/store/BatchedDelivery.h"
#include "platform/store/Delivery.h"
#include "platform/store/Store.h"
#include "platform/store/StorePool.h"

#include <algorithm>

namespace server::delivery {

namespace {

namespace text = platform::text;

constexpr std::string_view kPostmaster = "postmaster";

} // namespace

MailboxDelivery::MailboxDelivery(platform::host::ServerFolder folder,
                                 std::chrono::milliseconds rememberRecipients)
    : folder_(std::move(folder)), names_(folder_.ReadMachineNames()),
      stores_(platform::store::StorePool::Open(folder_)),
      commits_(platform::store::BatchCommitsFor(folder_)),
      recipients_(std::make_unique<RecipientCache>(rememberRecipients)) {
}

std::string MailboxDelivery::MailboxUrl(const std::string& alias) const {
    return platform::store::MailboxBaseUrl(platform::store::UrlForm::File, "", names_.domainDnsName,
                                           alias);
}

std::string MailboxDelivery::PostmasterMailbox(platform::store::Store& store) const {
    if (names_.postmaster.empty())
        throw NoSuchRecipient(
            "this server names no postmaster mailbox (\"postmaster = ALIAS\" in " +
            folder_.MachineFile().string() + ")");
    if (auto mailbox = store.FindMailbox(names_.domainDnsName, names_.postmaster)) {
        if (!platform::store::InboxOf(store, MailboxUrl(*mailbox)))
            throw NoSuchRecipient("the postmaster mailbox " + *mailbox +
                                  " has no Inbox and cannot take mail");
        return *mailbox;
    }
    throw NoSuchRecipient("the postmaster mailbox " + names_.postmaster +
                          " is not on this server (domain folder " + names_.domainDnsName + ")");
}

bool MailboxDelivery::ServesDomain(platform::store::Store& store, const std::string& domain) const {
    if (text::EqualsIgnoreCase(domain, names_.domainDnsName) ||
        text::EqualsIgnoreCase(domain, names_.forestDnsName))
        return true;
    // A few entries are enough: most mailboxes of a domain are usually here or nowhere.
    for (const auto& alias : MailboxAliasesInDomain(names_, domain, 16))
        if (store.FindMailbox(names_.domainDnsName, alias))
            return true;
    return false;
}

std::string MailboxDelivery::ResolveRecipient(const std::string& address) const {
    if (auto known = RememberedRecipient(address))
        return *known;
    auto mailbox = AskForRecipient(address);
    recipients_->Remember(address, mailbox);
    return mailbox;
}

std::optional<std::string> MailboxDelivery::RememberedRecipient(const std::string& address) const {
    return recipients_->Find(address);
}

std::string MailboxDelivery::AskForRecipient(const std::string& address) const {
    const auto store = stores_->Take();
    const auto at = address.rfind('@');
    const bool postmaster =
        text::EqualsIgnoreCase(std::string_view(address).substr(0, at), kPostmaster);
    if (postmaster && at == std::string::npos)
        return PostmasterMailbox(*store);
    std::string alias;
    try {
        alias = FindMailboxAlias(names_, address);
    } catch (const NoSuchRecipient&) {
        // An entry that has the address wins; only then is it the server's own postmaster.
        if (!postmaster || !ServesDomain(*store, address.substr(at + 1)))
            throw;
        return PostmasterMailbox(*store);
    }
    auto mailbox = store->FindMailbox(names_.domainDnsName, alias);
    if (!mailbox)
        throw NoSuchRecipient("mailbox " + alias + " is not on this server (domain folder " +
                              names_.domainDnsName + ")");
    // Refused now rather than failing every recipient of the message later.
    if (!platform::store::InboxOf(*store, MailboxUrl(*mailbox)))
        throw NoSuchRecipient("mailbox " + *mailbox + " has no Inbox and cannot take mail");
    return *mailbox;
}

std::vector<std::string> MailboxDelivery::Deliver(const std::vector<Recipient>& recipients,
                                                  const std::string& message,
                                                  const Arrival& arrival) const {
    const auto host = names_.computerName + "." + names_.domainDnsName;
    const auto id = arrival.id.empty() ? log::NewId() : arrival.id;
    const auto now = std::chrono::system_clock::now();
    // Two addresses of one mailbox still give it one copy, traced for the first of them.
    std::vector<std::string> mailboxes;
    std::vector<std::vector<std::string>> reached; // per mailbox, the recipients that named it
    std::vector<platform::store::MailboxCopy> copies;
    for (const auto& recipient : recipients) {
        const auto known =
            std::find_if(mailboxes.begin(), mailboxes.end(), [&](const std::string& mailbox) {
                return text::EqualsIgnoreCase(mailbox, recipient.mailbox);
            });
        const auto listed = recipient.original.empty() ? recipient.address : recipient.original;
        if (known != mailboxes.end()) {
            reached[static_cast<std::size_t>(known - mailboxes.begin())].push_back(listed);
            continue;
        }
        mailboxes.push_back(recipient.mailbox);
        reached.push_back({listed});
        copies.emplace_back(MailboxUrl(recipient.mailbox),
                            TraceFields(arrival, host, id, recipient.address, now));
    }
    if (names_.envelopeRecipientList)
        for (std::size_t i = 0; i < copies.size(); ++i)
            copies[i].trace += RecipientListField(reached[i]);
    platform::store::DeliveryOptions options;
    options.takeKeywords = names_.takeKeywords;
    // Only this server's list may steer the sink's stamp.
    if (names_.envelopeRecipientList)
        options.removedFields = {"X-RecipientList"};
    // The sinks' work runs here, beside the other sessions' deliveries; the writes share commits.
    return platform::store::DeliverInBatch(*stores_, *commits_, copies, message, options);
}

} // namespace server::delivery
