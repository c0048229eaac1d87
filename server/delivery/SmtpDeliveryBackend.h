#pragma once

// The SMTP front's view of this server: recipients are the addresses the directory resolves to
// a mailbox here, and postmaster (MailboxDelivery::ResolveRecipient); an accepted message is
// delivered as "exhost deliver" does it, one copy per mailbox. Every delivery is logged
// ("delivery": its id, as in the Received field, the Message-ID, size, recipients, mailboxes,
// outcome and milliseconds). What went wrong goes into the verdict's detail, for the log; the
// client's text never names the server's files or its errors.

#include "server/delivery/MailboxDelivery.h"
#include "server/smtp/SmtpBackend.h"

#include <map>

namespace server::delivery {

class SmtpDeliveryBackend : public smtp::Backend {
public:
    // Sessions store their messages concurrently; the delivery batches their commits.
    explicit SmtpDeliveryBackend(const MailboxDelivery& delivery);

    smtp::Verdict CheckRecipient(const std::string& address) override;
    std::optional<smtp::Verdict> KnownRecipient(const std::string& address) override;
    smtp::Verdict Deliver(const smtp::Envelope& envelope, const std::string& message) override;
    // LMTP: each mailbox is stored on its own, so a failure costs only its own recipients.
    // Recipients whose addresses name one mailbox share its one copy and its verdict.
    std::vector<smtp::Verdict> DeliverEach(const smtp::Envelope& envelope,
                                           const std::string& message) override;

private:
    smtp::Verdict Store(const smtp::Envelope& envelope,
                        const std::vector<MailboxDelivery::Recipient>& recipients,
                        const std::string& message, smtp::Verdict stored);

    const MailboxDelivery& delivery_;
    std::map<std::string, std::string> aliases_; // accepted address -> mailbox alias
};

} // namespace server::delivery
