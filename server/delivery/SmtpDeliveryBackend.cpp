// Answers the SMTP front's recipient checks and deliveries through the shared mailbox delivery,
// and logs each delivery.

#include "server/delivery/SmtpDeliveryBackend.h"

#include "server/delivery/NoSuchRecipient.h"

#include "server/log/LogId.h"
#include "server/log/ServerLog.h"
#include "server/message/HeaderBlock.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <chrono>

namespace server::delivery {

namespace {

using Clock = std::chrono::steady_clock;

Arrival ArrivalOf(const smtp::Envelope& envelope, const std::string& id) {
    return {envelope.sender, envelope.protocol, envelope.helo, id};
}

MailboxDelivery::Recipient Recipient(const smtp::Envelope& envelope, std::size_t index,
                                     const std::string& mailbox) {
    const auto& originals = envelope.originalRecipients;
    return {envelope.recipients[index], mailbox,
            index < originals.size() ? originals[index] : std::string()};
}

std::string MessageId(const std::string& message) {
    const auto fields = message::ReadHeaderFields(message::SplitEntity(message).header);
    return message::FieldValue(fields, "Message-ID").value_or("");
}

// The mailboxes the recipients name, each once.
std::vector<std::string> Mailboxes(const std::vector<MailboxDelivery::Recipient>& recipients) {
    std::vector<std::string> named;
    for (const auto& recipient : recipients)
        if (std::none_of(named.begin(), named.end(), [&](const std::string& mailbox) {
                return platform::text::EqualsIgnoreCase(mailbox, recipient.mailbox);
            }))
            named.push_back(recipient.mailbox);
    return named;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names)
        joined += (joined.empty() ? "" : ",") + name;
    return joined;
}

} // namespace

SmtpDeliveryBackend::SmtpDeliveryBackend(const MailboxDelivery& delivery) : delivery_(delivery) {
}

smtp::Verdict SmtpDeliveryBackend::CheckRecipient(const std::string& address) {
    try {
        aliases_[address] = delivery_.ResolveRecipient(address);
        return smtp::Verdict::Accept();
    } catch (const NoSuchRecipient& error) {
        // Why is the operator's (it may name the server's files); the client learns only no.
        return smtp::Verdict::Refuse("5.1.1 No such recipient here: <" + address + ">",
                                     error.what());
    } catch (...) {
        return smtp::Verdict::Fail(smtp::WhatWasThrown());
    }
}

std::optional<smtp::Verdict> SmtpDeliveryBackend::KnownRecipient(const std::string& address) {
    auto mailbox = delivery_.RememberedRecipient(address);
    if (!mailbox)
        return std::nullopt;
    aliases_[address] = std::move(*mailbox);
    return smtp::Verdict::Accept();
}

// One delivery into the mailboxes of `recipients`, all or none, logged with its id; a failure
// is a Verdict::Fail naming that id.
smtp::Verdict SmtpDeliveryBackend::Store(const smtp::Envelope& envelope,
                                         const std::vector<MailboxDelivery::Recipient>& recipients,
                                         const std::string& message, smtp::Verdict stored) {
    const auto id = log::NewId();
    const auto started = Clock::now();
    std::string failure;
    try {
        delivery_.Deliver(recipients, message, ArrivalOf(envelope, id));
    } catch (...) {
        failure = smtp::WhatWasThrown();
    }
    const auto mailboxes = Joined(Mailboxes(recipients));
    log::Event(failure.empty() ? log::Severity::Info : log::Severity::Error, "delivery")
        .Field("session", envelope.session)
        .Field("client", envelope.client)
        .Field("id", id)
        .Field("message_id", MessageId(message))
        .Field("size", message.size())
        .Field("recipients", recipients.size())
        .Field("mailboxes", mailboxes)
        .Field("outcome", failure.empty() ? "stored" : "failed")
        .Field("ms",
               static_cast<std::int64_t>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)
                       .count()));
    if (!failure.empty())
        return smtp::Verdict::Fail("delivery " + id + " to " + mailboxes + ": " + failure);
    return stored;
}

smtp::Verdict SmtpDeliveryBackend::Deliver(const smtp::Envelope& envelope,
                                           const std::string& message) {
    // Every message is taken as transports take it (ParseMessage); one copy per mailbox.
    std::vector<MailboxDelivery::Recipient> recipients;
    for (std::size_t i = 0; i < envelope.recipients.size(); ++i)
        recipients.push_back(Recipient(envelope, i, aliases_.at(envelope.recipients[i])));
    const auto mailboxes = Mailboxes(recipients).size();
    return Store(envelope, recipients, message,
                 smtp::Verdict::Accept("Message stored for " + std::to_string(mailboxes) +
                                       (mailboxes == 1 ? " recipient" : " recipients")));
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
        verdicts.push_back(
            Store(envelope, recipients, message, smtp::Verdict::Accept("2.1.5 Message stored")));
    }
    return verdicts;
}

} // namespace server::delivery
