// Logins, the sender's address, and each recipient either to its mailbox here or to the relay.

#include "server/submission/SubmissionBackend.h"

#include "server/delivery/NoSuchRecipient.h"
#include "server/delivery/RecipientLookup.h"
#include "server/delivery/TraceFields.h"
#include "server/log/LogId.h"
#include "server/log/ServerLog.h"
#include "server/login/LoginWait.h"

#include "platform/core/Text.h"

#include <algorithm>

namespace server::submission {

namespace {

// The relay's reply as our verdict: its own text, which names no file of ours.
smtp::Verdict VerdictOf(const smtp::Reply& reply) {
    std::string text;
    for (const auto& line : reply.lines)
        text += (text.empty() ? "" : " ") + line;
    if (reply.code / 100 == 2)
        return smtp::Verdict::Accept(text);
    if (reply.code / 100 == 5)
        return smtp::Verdict::Refuse(text, "the relay host refused it");
    return smtp::Verdict::Defer(text);
}

smtp::Verdict Unreachable(const std::string& why) {
    return smtp::Verdict::Defer("4.4.1 The relay host cannot be reached; try again later", why);
}

} // namespace

SubmissionBackend::SubmissionBackend(const delivery::MailboxDelivery& delivery,
                                     SubmissionSettings settings)
    : delivery_(delivery), settings_(std::move(settings)), local_(delivery) {
}

smtp::Verdict SubmissionBackend::Authenticate(const smtp::Login& login) {
    auto& throttle = settings_.throttle;
    if (throttle &&
        !login::AwaitLoginTurn(*throttle, {login.session, login.client, login.user}, loginWait_))
        return smtp::Verdict::Defer("4.7.0 Login not checked, try again later");
    const auto checked = settings_.logins->Check(login.user, login.password);
    if (throttle)
        throttle->Checked(login.client, login.user, checked.user ? checked.user->alias : "",
                          checked.accepted);
    if (!checked.accepted)
        return smtp::Verdict::Refuse("", "wrong user name or password");
    alias_ = checked.user->alias;
    return smtp::Verdict::Accept();
}

smtp::Verdict SubmissionBackend::CheckSender(const std::string& address) {
    // A new transaction: what the last one gave the relay is dropped with its connection.
    relay_.reset();
    relayed_.clear();
    localRecipients_.clear();
    sender_.clear();
    if (alias_.empty())
        return smtp::Verdict::Refuse("", "no login");
    try {
        const auto owner = delivery::FindMailboxAlias(delivery_.Names(), address);
        if (!platform::text::EqualsIgnoreCase(owner, alias_))
            return smtp::Verdict::Refuse("", "the address is the mailbox " + owner + "'s");
    } catch (const delivery::NoSuchRecipient& error) {
        return smtp::Verdict::Refuse("", error.what());
    }
    sender_ = address;
    return smtp::Verdict::Accept();
}

std::optional<smtp::Verdict> SubmissionBackend::KnownRecipient(const std::string& address) {
    auto known = local_.KnownRecipient(address);
    if (known)
        localRecipients_.insert(address);
    return known;
}

smtp::Verdict SubmissionBackend::CheckRecipient(const std::string& address) {
    auto verdict = local_.CheckRecipient(address);
    if (verdict.kind == smtp::Verdict::Kind::Accepted) {
        localRecipients_.insert(address);
        return verdict;
    }
    if (verdict.kind != smtp::Verdict::Kind::Permanent)
        return verdict; // the directory failed: not a reason to send the mail elsewhere
    // An unknown address of this server's own domain is no one's elsewhere either: the relay
    // would bounce it back here, or hand it on to us.
    const auto at = address.rfind('@');
    const auto domain = at == std::string::npos ? std::string() : address.substr(at + 1);
    const auto& names = delivery_.Names();
    if (platform::text::EqualsIgnoreCase(domain, names.domainDnsName) ||
        (!names.forestDnsName.empty() &&
         platform::text::EqualsIgnoreCase(domain, names.forestDnsName)))
        return verdict;
    if (settings_.relayHost.empty())
        return smtp::Verdict::Refuse("5.7.1 Relaying denied", "no relay_host: " + verdict.detail);
    return Relay(address);
}

// The recipient as the relay takes or refuses it, MAIL first on a new connection.
smtp::Verdict SubmissionBackend::Relay(const std::string& address) {
    try {
        if (!relay_) {
            auto relay = std::make_unique<RelayClient>(settings_.relayHost, settings_.relayTimeout);
            if (const auto hello = relay->Command("EHLO " + settings_.hostName); hello.code != 250)
                return VerdictOf(hello);
            if (const auto mail = relay->Command("MAIL FROM:<" + sender_ + ">"); mail.code != 250)
                return VerdictOf(mail);
            relay_ = std::move(relay);
        }
        auto verdict = VerdictOf(relay_->Command("RCPT TO:<" + address + ">"));
        if (verdict.kind == smtp::Verdict::Kind::Accepted)
            relayed_.push_back(address);
        return verdict;
    } catch (const RelayUnreachable& error) {
        relay_.reset();
        relayed_.clear();
        return Unreachable(error.what());
    }
}

smtp::Verdict SubmissionBackend::RelayMessage(const smtp::Envelope& envelope,
                                              const std::string& message) {
    const auto id = log::NewId();
    const delivery::Arrival arrival{envelope.sender, envelope.protocol, envelope.helo, id};
    auto verdict = Unreachable("the relay's connection was lost before DATA");
    try {
        if (relay_) {
            const auto data = relay_->Command("DATA");
            verdict = data.code != 354
                          ? VerdictOf(data)
                          : VerdictOf(relay_->Message(
                                delivery::ReceivedField(arrival, settings_.hostName, id,
                                                        relayed_.size() == 1 ? relayed_[0] : "",
                                                        std::chrono::system_clock::now()) +
                                message));
        }
    } catch (const RelayUnreachable& error) {
        verdict = Unreachable(error.what());
    }
    relay_.reset();
    log::Event(verdict.kind == smtp::Verdict::Kind::Accepted ? log::Severity::Info
                                                             : log::Severity::Warning,
               "relay")
        .Field("session", envelope.session)
        .Field("client", envelope.client)
        .Field("id", id)
        .Field("relay", settings_.relayHost)
        .Field("size", message.size())
        .Field("recipients", relayed_.size())
        .Field("outcome", verdict.kind == smtp::Verdict::Kind::Accepted ? "relayed" : "failed");
    return verdict;
}

smtp::Verdict SubmissionBackend::Deliver(const smtp::Envelope& envelope,
                                         const std::string& message) {
    smtp::Envelope here = envelope;
    here.recipients.clear();
    here.originalRecipients.clear();
    for (std::size_t i = 0; i < envelope.recipients.size(); ++i)
        if (localRecipients_.count(envelope.recipients[i])) {
            here.recipients.push_back(envelope.recipients[i]);
            here.originalRecipients.push_back(
                i < envelope.originalRecipients.size() ? envelope.originalRecipients[i] : "");
        }
    std::vector<std::string> elsewhere;
    for (const auto& recipient : envelope.recipients)
        if (!localRecipients_.count(recipient))
            elsewhere.push_back(recipient);
    // The relay must hold the envelope's recipients and no others: one it took while the session
    // gave up waiting, or one lost with a connection that broke, makes the message go nowhere
    // rather than to the wrong recipients.
    if (elsewhere != relayed_) {
        relay_.reset();
        return Unreachable("the relay's recipients are not the envelope's");
    }
    smtp::Verdict relayed = smtp::Verdict::Accept();
    if (!elsewhere.empty()) {
        relayed = RelayMessage(envelope, message);
        if (relayed.kind != smtp::Verdict::Kind::Accepted || here.recipients.empty())
            return relayed;
    }
    return local_.Deliver(here, message);
}

} // namespace server::submission
