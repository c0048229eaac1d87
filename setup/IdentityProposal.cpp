// Proposing the identity of the COM+ application: the running user's logon name, prefixed by
// the DNS name of the forest root domain that the directory reports for the account.

#include "setup/IdentityProposal.h"
#include "platform/core/Ado.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Text.h"
#include "platform/host/LogonName.h"
#include "setup/InstallForm.h"

#include <algorithm>
#include <optional>

namespace lorvanta::setup {

namespace {

// Where `what` first stands in `text`, letters compared without regard to case.
std::optional<std::size_t> FindIgnoringCase(std::string_view text, std::string_view what) {
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
        if (platform::text::EqualsIgnoreCase(text.substr(i, what.size()), what))
            return i;
    }
    return std::nullopt;
}

std::string ReplaceText(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

std::string GetLogonUserName() {
    return platform::host::LogonUserName();
}

std::string IdentityFromCategory(const std::string& category, const std::string& logonName) {
    const auto at = FindIgnoringCase(category, "DC=");
    if (!at)
        return logonName;
    std::string domain = category.substr(*at + 3);
    domain.erase(0, std::min(domain.find_first_not_of(' '), domain.size()));
    if (domain.empty())
        return logonName;
    const auto lastDc = domain.rfind("DC=");
    const auto comma = domain.find(',', lastDc == std::string::npos ? 0 : lastDc);
    if (comma != std::string::npos && comma >= 2)
        domain.erase(comma);
    domain.erase(std::remove(domain.begin(), domain.end(), ' '), domain.end());
    domain = ReplaceText(domain, ",DC=", ".");
    return domain.empty() ? logonName : domain + "\\" + logonName;
}

std::string AccountQuery(const std::string& searchRoot, const std::string& logonName) {
    // An apostrophe in the logon name is doubled, as the query language writes it, so that such
    // a name finds its account instead of breaking the query.
    return "SELECT sAMAccountName, cn, objectCategory FROM '" + searchRoot + "' " +
           "WHERE objectcategory='person' AND sAMAccountName='" +
           ReplaceText(logonName, "'", "''") + "'";
}

void InstallForm::FillIdentityField() {
    const auto logonName = GetLogonUserName();
    std::string identity = logonName;

    auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
    command->SetActiveConnection(directoryConnection_);
    command->SetCommandText(AccountQuery(searchRoot_, logonName));
    command->SetProperty("searchscope", 2);
    command->SetProperty("cache results", false);
    command->SetProperty("Chase Referrals", 96);
    auto rows = command->Execute();
    if (!rows->Eof()) {
        std::string category;
        const auto value = rows->Fields()->Item(std::string("objectcategory"))->Value();
        if (!value.IsNull() && !value.IsEmpty())
            category = value.ToText();
        identity = IdentityFromCategory(category, logonName);
    }
    rows->Close();
    identityField_->setText(QString::fromStdString(identity));
}

} // namespace lorvanta::setup
