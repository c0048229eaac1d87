// Builds and takes apart the " / " joined texts of the mailbox lists, and shortens home server
// values and mail addresses to the parts the lists show.

#include "setup/MailboxEntry.h"

#include "platform/core/Text.h"

namespace lorvanta::setup {

namespace {
constexpr std::string_view kSeparator = " / ";

std::string Trimmed(std::string_view text) {
    return std::string(platform::text::TrimBlanks(text));
}
} // namespace

std::string MailboxEntry(const std::string& displayName, const std::string& homeServer,
                         const std::string& mailAddress, const std::string& alias) {
    return displayName + std::string(kSeparator) + homeServer + std::string(kSeparator) +
           mailAddress + std::string(kSeparator) + alias;
}

EntryFields ParseMailboxEntry(std::string text) {
    EntryFields fields;
    if (const auto at = text.rfind(kSeparator); at != std::string::npos) {
        fields.alias = Trimmed(std::string_view(text).substr(at + kSeparator.size()));
        text.erase(at);
    }
    if (const auto at = text.rfind(kSeparator); at != std::string::npos)
        fields.mailAddress = Trimmed(std::string_view(text).substr(at + kSeparator.size()));
    else
        fields.mailAddress = text;
    const auto at = fields.mailAddress.rfind('@');
    if (at != std::string::npos && at >= 1) {
        fields.localPart = fields.mailAddress.substr(0, at);
        fields.mailDomain = fields.mailAddress.substr(at + 1);
    } else {
        fields.localPart = fields.mailAddress;
        fields.mailDomain = fields.mailAddress;
    }
    return fields;
}

std::string HomeServerName(const std::string& homeServerValue) {
    const auto upper = platform::text::ToUpper(homeServerValue);
    const auto at = upper.rfind("CN=");
    if (at != std::string::npos && at + 3 < upper.size())
        return upper.substr(at + 3);
    return upper;
}

std::string MailLocalPart(const std::string& mailAddress) {
    const auto at = mailAddress.find('@');
    return (at != std::string::npos && at >= 1) ? mailAddress.substr(0, at) : mailAddress;
}

} // namespace lorvanta::setup
