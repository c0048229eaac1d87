#include "MailboxBackend.h"

#include "ServerContext.h"

#include "platform/core/Error.h"

namespace exhost {

MailboxBackend::MailboxBackend(const MailboxDelivery& delivery) : delivery_(delivery) {
}

smtp::Verdict MailboxBackend::CheckRecipient(const std::string& address) {
    try {
        aliases_[address] = delivery_.ResolveRecipient(address);
        return smtp::Verdict::Accept();
    } catch (const UsageError& error) {
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

smtp::Verdict MailboxBackend::Deliver(const smtp::Envelope& envelope, const std::string& message) {
    // Every message is taken as transports take it (ParseMessage); one copy per mailbox.
    std::vector<std::string> aliases;
    for (const auto& address : envelope.recipients)
        aliases.push_back(aliases_.at(address));
    try {
        const auto urls = delivery_.Deliver(aliases, message);
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

} // namespace exhost
