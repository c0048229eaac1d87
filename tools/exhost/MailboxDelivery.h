#pragma once

// The mail transport's last step, shared by "exhost deliver" and "exhost smtp": a recipient
// address is resolved through the directory to a mailbox on this server, and a message is saved
// into the Inbox of each recipient's mailbox as a delivered message, so that the event service
// runs the registered sinks.

#include "platform/host/ServerFolder.h"

#include <string>
#include <vector>

namespace exhost {

class MailboxDelivery {
public:
    explicit MailboxDelivery(platform::host::ServerFolder folder);

    // The alias of the mailbox on this server whose directory entry has the address. Fails with
    // UsageError when no entry has it or its mailbox is not on this server, and with
    // platform::Error when the directory or the store cannot be asked. Safe to call from several
    // threads at once: every call opens its own connections.
    std::string ResolveRecipient(const std::string& address) const;

    // Saves the message into the Inbox of every mailbox named, in one store transaction: when
    // one save fails (or a sink refuses it) none is kept. Returns the URLs of the stored items,
    // in the order of `aliases`.
    std::vector<std::string> Deliver(const std::vector<std::string>& aliases,
                                     const std::string& message) const;

    const std::string& Domain() const { return names_.domainDnsName; }
    const platform::host::MachineNames& Names() const { return names_; }

private:
    platform::host::ServerFolder folder_;
    platform::host::MachineNames names_;
};

} // namespace exhost
