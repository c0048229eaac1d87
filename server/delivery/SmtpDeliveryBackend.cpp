// Answers the SMTP front's recipient checks and deliveries through the shared mailbox delivery.

#include "server/delivery/SmtpDeliveryBackend.h"

#include "server/delivery/NoSuchRecipient.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include <algorithm>

namespace server::delivery {

namespace {

Arrival ArrivalOf(const smtp::Envelope& envelope) {
    return {envelope.sender, envelope.protocol, envelope.helo};
}

MailboxDelivery::Recipient Recipient(const smtp::Envelope& envelope, std::size_t index,
                                     const std::string& mailbox) {
    const auto& originals = envelope.originalRecipients;
    return {envelope.recipients[index], mailbox,
            index < originals.size() ? originals[index] : std::string()};
}

} // namespace

SmtpDeliveryBackend::SmtpDeliveryBackend(const MailboxDelivery& delivery) : delivery_(delivery) {
}

smtp::Verdict SmtpDeliveryBackend::CheckRecipient(const std::string& address) {
    try {
        aliases_[address] = delivery_.ResolveRecipient(address);
        return smtp::Verdict::Accept();
    } catch (const NoSuchRecipient& error) {
        return smtp::Verdict::Refuse("No such recipient here: <" + address + "> (" + error.what() +
                                     ")");
    } catch (const platform::Error& error) {
        return smtp::Verdict::Defer("Cannot look up <" + address +
                                    "> now, try again later: " + error.Description());
    } catch (const std::exception& error) {
        return smtp::Verdict::Defer("Cannot look up <" + address +
                                    "> now, try again later: " + error.what());
    }
}

std::optional<smtp::Verdict> SmtpDeliveryBackend::KnownRecipient(const std::string& address) {
    auto mailbox = delivery_.RememberedRecipient(address);
    if (!mailbox)
        return std::nullopt;
    aliases_[address] = std::move(*mailbox);
    return smtp::Verdict::Accept();
}

smtp::Verdict SmtpDeliveryBackend::Deliver(const smtp::Envelope& envelope,
                                           const std::string& message) {
    // Every message is taken as transports take it (ParseMessage); one copy per mailbox.
    std::vector<MailboxDelivery::Recipient> recipients;
    for (std::size_t i = 0; i < envelope.recipients.size(); ++i)
        recipients.push_back(Recipient(envelope, i, aliases_.at(envelope.recipients[i])));
    try {
        const auto urls = delivery_.Deliver(recipients, message, ArrivalOf(envelope));
        return smtp::Verdict::Accept("Message stored for " + std::to_string(urls.size()) +
                                     (urls.size() == 1 ? " recipient" : " recipients"));
    } catch (const platform::Error& error) {
        return smtp::Verdict::Defer("The message could not be stored, nothing was kept: " +
                                    error.Description());
    } catch (const std::exception& error) {
        return smtp::Verdict::Defer("The message could not be stored, nothing was kept: " +
                                    std::string(error.what()));
    }
}

std::vector<smtp::Verdict> SmtpDeliveryBackend::DeliverEach(const smtp::Envelope& envelope,
                                                            const std::string& message) {
    std::vector<smtp::Verdict> verdicts;
    std::vector<std::string> stored; // mailboxes already answered, by index into `verdicts`
    const auto& addresses = envelope.recipients;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto& alias = aliases_.at(addresses[i]);
        const auto same = std::find_if(stored.begin(), stored.end(), [&](const auto& other) {
            return platform::text::EqualsIgnoreCase(other, alias);
        });
        if (same != stored.end()) {
            verdicts.push_back(verdicts[static_cast<std::size_t>(same - stored.begin())]);
            stored.push_back(alias);
            continue;
        }
        stored.push_back(alias);
        // The mailbox's one copy lists every recipient that names it.
        std::vector<MailboxDelivery::Recipient> recipients;
        for (std::size_t j = i; j < addresses.size(); ++j)
            if (platform::text::EqualsIgnoreCase(aliases_.at(addresses[j]), alias))
                recipients.push_back(Recipient(envelope, j, alias));
        try {
            delivery_.Deliver(recipients, message, ArrivalOf(envelope));
            verdicts.push_back(smtp::Verdict::Accept("2.1.5 Message stored"));
        } catch (const platform::Error& error) {
            verdicts.push_back(
                smtp::Verdict::Defer("4.3.0 The message could not be stored for this recipient: " +
                                     error.Description()));
        } catch (const std::exception& error) {
            verdicts.push_back(
                smtp::Verdict::Defer("4.3.0 The message could not be stored for this recipient: " +
                                     std::string(error.what())));
        }
    }
    return verdicts;
}

} // namespace server::delivery
