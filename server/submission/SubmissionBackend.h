#pragma once

// The submission front's view of this server (RFC 6409): logins are checked as the IMAP front
// checks them (the same login check and the same throttle, so the same user names); a user may
// send only as one of their own SMTP addresses, those the directory gives their mailbox as
// recipient lookup finds them. Mail for a mailbox here is delivered exactly as "exhost smtp"
// delivers it (SmtpDeliveryBackend). Mail for any other address goes to the relay host over
// SMTP, recipient by recipient as the client names them, so that the relay's verdict on each is
// the client's; without a relay host it is refused. Nothing is queued: a relay that cannot be
// reached is a 451 and the client keeps the message.
//
// A message with recipients of both kinds goes to the relay first: a relay that fails leaves
// nothing stored here, and a store that fails after the relay took it makes the client send it
// again (a second copy rather than a lost one).

#include "server/delivery/SmtpDeliveryBackend.h"
#include "server/login/Interruption.h"
#include "server/login/LoginThrottle.h"
#include "server/mailstore/ImapMailboxBackend.h"
#include "server/smtp/SmtpBackend.h"
#include "server/submission/RelayClient.h"

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace server::submission {

struct SubmissionSettings {
    std::shared_ptr<mailstore::LoginCheck> logins;
    std::shared_ptr<login::LoginThrottle> throttle; // none: every try is checked at once
    std::string relayHost;                          // "host:port"; empty: relaying refused
    std::chrono::milliseconds relayTimeout = std::chrono::seconds(30);
    std::string hostName; // this server's, for EHLO and the Received field
};

class SubmissionBackend : public smtp::Backend {
public:
    // The delivery and the settings' login check and throttle outlive the backend.
    SubmissionBackend(const delivery::MailboxDelivery& delivery, SubmissionSettings settings);

    smtp::Verdict Authenticate(const smtp::Login& login) override;
    smtp::Verdict CheckSender(const std::string& address) override;
    smtp::Verdict CheckRecipient(const std::string& address) override;
    std::optional<smtp::Verdict> KnownRecipient(const std::string& address) override;
    smtp::Verdict Deliver(const smtp::Envelope& envelope, const std::string& message) override;
    void Interrupt() override { loginWait_.Interrupt(); }

private:
    smtp::Verdict Relay(const std::string& address);
    smtp::Verdict RelayMessage(const smtp::Envelope& envelope, const std::string& message);

    const delivery::MailboxDelivery& delivery_;
    SubmissionSettings settings_;
    delivery::SmtpDeliveryBackend local_;
    login::Interruption loginWait_; // cut short when the server stops or the client leaves
    std::string alias_;             // the mailbox of the user logged in
    std::string sender_;            // of the transaction under way
    std::set<std::string> localRecipients_;
    std::vector<std::string> relayed_;   // the relay took these, in RCPT order
    std::unique_ptr<RelayClient> relay_; // with MAIL sent, while a transaction relays
};

} // namespace server::submission
