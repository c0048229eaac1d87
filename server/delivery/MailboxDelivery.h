#pragma once

// The mail transport's last step, shared by "exhost deliver" and "exhost smtp": a recipient
// address is resolved through the directory to a mailbox on this server, and a message is saved
// into the Inbox of each recipient's mailbox as a delivered message, so that the event service
// runs the registered sinks.

#include "server/delivery/RecipientCache.h"
#include "server/delivery/TraceFields.h"

#include "platform/host/ServerFolder.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::store {
class GroupCommit;
class Store;
class StorePool;
} // namespace platform::store

namespace server::delivery {

class MailboxDelivery {
public:
    // A long-running front passes `rememberRecipients`: each address resolved is then taken
    // as resolved for that long (RecipientCache.h).
    explicit MailboxDelivery(platform::host::ServerFolder folder,
                             std::chrono::milliseconds rememberRecipients = {});

    // The alias of the mailbox on this server whose directory entry has the address. Mail for
    // "postmaster" (any case, no domain), or for postmaster at a domain this server's mailboxes
    // use that no directory entry has as an address, goes to the mailbox that the server
    // folder's "postmaster" setting names. Fails with NoSuchRecipient when no entry has the address
    // or its mailbox is not on this server or has no Inbox (cannot take mail), and with
    // platform::Error when the directory or the store cannot be asked. An address resolved less
    // than `rememberRecipients` ago is not looked up again. Safe to call from several threads at
    // once: every lookup takes a directory connection and a store of its own.
    std::string ResolveRecipient(const std::string& address) const;
    // The mailbox the address resolved to less than `rememberRecipients` ago, if it did; asks
    // nobody, so it may run where nothing may wait.
    std::optional<std::string> RememberedRecipient(const std::string& address) const;

    // One envelope recipient: the address as the client sent it and the alias of the mailbox
    // ResolveRecipient found for it.
    struct Recipient {
        std::string address;
        std::string mailbox;
        std::string original{}; // the ORCPT an MTA in front passed; "" when none
    };

    // Saves the message into the Inbox of every recipient's mailbox, once per mailbox however
    // often it is named (aliases compare without regard to case), all or none: when one save
    // fails (or a sink refuses it) none is kept. Each copy starts with this server's trace
    // fields (TraceFields.h) for the first recipient that named its mailbox and, when
    // machine.conf sets envelope_recipient_list, X-RecipientList with every recipient that
    // named it (its ORCPT if it has one), the sender's X-RecipientList left out. Returns once the
    // message is on disk, with the URLs of the stored items in the order in which their
    // mailboxes are first named. Deliveries from several threads at once share commits
    // (platform/store/GroupCommit.h).
    std::vector<std::string> Deliver(const std::vector<Recipient>& recipients,
                                     const std::string& message, const Arrival& arrival) const;

    const std::string& Domain() const { return names_.domainDnsName; }
    const platform::host::MachineNames& Names() const { return names_; }

private:
    std::string MailboxUrl(const std::string& alias) const;
    std::string AskForRecipient(const std::string& address) const;
    std::string PostmasterMailbox(platform::store::Store& store) const;
    // Whether mail for `domain` can be for this server: its own domain or forest, or the domain
    // of an address of a mailbox here.
    bool ServesDomain(platform::store::Store& store, const std::string& domain) const;

    platform::host::ServerFolder folder_;
    platform::host::MachineNames names_;
    // Kept open for every lookup and delivery; a replaced store file is noticed. The commits'
    // batches are written on stores of their own (BatchCommitsFor), whose page caches the
    // deliveries' stores never invalidate.
    std::shared_ptr<platform::store::StorePool> stores_;
    std::shared_ptr<platform::store::GroupCommit> commits_;
    std::unique_ptr<RecipientCache> recipients_;
};

} // namespace server::delivery
