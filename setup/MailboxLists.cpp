// Filling the four mailbox lists: every person with a mailbox on this server, split by whether
// the sink's registration item lies in its Inbox (system mailboxes: in their global events folder).

#include "platform/core/Ado.h"
#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Text.h"
#include "platform/directory/Ads.h"
#include "setup/InstallForm.h"
#include "setup/Items.h"
#include "setup/MailboxEntry.h"
#include "setup/PaintThrottle.h"

#include <QCoreApplication>

namespace lorvanta::setup {

namespace {

constexpr const char* kRegistrationName = "Lorvanta.reg";
constexpr const char* kRegistrationCriteria =
    " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";
constexpr const char* kDisabledMarker = " [***DISABLED***]";

std::string TextOf(platform::ado::Fields& fields, const char* name) {
    const auto value = fields.Item(std::string(name))->Value();
    return (value.IsNull() || value.IsEmpty()) ? std::string() : value.ToText();
}

bool IsSystemMailbox(const std::string& alias) {
    return platform::text::MatchPrefixIgnoreCase(alias, "SystemMailbox{").has_value();
}

} // namespace

std::string MailboxQuery(const std::string& searchRoot) {
    return "SELECT adspath, cn, msExchHomeServerName,mailNickName,mail FROM '" + searchRoot +
           "' WHERE objectcategory='person' AND MsExchMailboxGuid='*' ORDER BY cn";
}

std::int16_t InstallForm::LookUpRegistration(const std::string& alias, const std::string& localPart,
                                             const std::string& folderName) {
    std::int16_t state = 0;
    auto find = [&](const std::string& root, const std::string& name, bool logErrors) {
        return FindEventRegistration(ErrorLogBox(), root + "/" + name, folderName,
                                     kRegistrationName, kRegistrationCriteria, logErrors, cnn1);
    };
    if (!alias.empty()) {
        state = find(FolderURL, alias, false);
        if (state == -1)
            state = find(FileFolderURL, alias, localPart.empty());
    }
    if (!localPart.empty() && state == -1) {
        state = find(FolderURL, localPart, false);
        if (state == -1)
            state = find(FileFolderURL, localPart, true);
    }
    return state;
}

void InstallForm::GetUsersWithMailboxes() {
    for (auto* list : {SysMbxUninstList, SysMbxInstList, MbxUninstList, MbxInstList})
        list->clear();
    Check2->setChecked(false);
    Check5->setChecked(false);

    auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
    command->SetActiveConnection(cnn);
    command->SetCommandText(MailboxQuery(strSearchRoot));
    command->SetProperty("searchscope", 2);
    command->SetProperty("cache results", true);
    command->SetProperty("Chase Referrals", 96);
    command->SetProperty("Page Size", 100);
    command->SetProperty("Size Limit", 30000);
    command->SetProperty("Timeout", 120);
    auto rows = command->Execute();

    if (!rows->Eof()) {
        FileBytes = 0;
        Picture1->SetScaleWidth(static_cast<double>(rows->RecordCount()));
        Picture1->show();
        {
            PaintThrottle painting(
                {Picture1, SysMbxUninstList, SysMbxInstList, MbxUninstList, MbxInstList});
            while (!rows->Eof()) {
                UpdateStatus(1);
                painting.ProcessEvents();
                AddMailboxRow(*rows);
                rows->MoveNext();
            }
        }
        Picture1->Cls();
        Picture1->repaint();
        Picture1->hide();
    }
    rows->Close();

    const std::pair<QCheckBox*, QListWidget*> pairs[] = {{Check2, SysMbxInstList},
                                                         {Check3, MbxInstList},
                                                         {Check4, MbxUninstList},
                                                         {Check5, SysMbxUninstList}};
    for (const auto& [box, list] : pairs) {
        box->setChecked(false);
        box->setEnabled(list->count() > 0);
    }
}

void InstallForm::AddMailboxRow(platform::ado::Recordset& rows) {
    auto fields = rows.Fields();
    auto user = platform::GetObjectAs<platform::directory::IADsUser>(TextOf(*fields, "adspath"));

    const auto homeServer = HomeServerName(TextOf(*fields, "msExchHomeServerName"));
    if (!platform::text::EqualsIgnoreCase(homeServer, ShortComputerName))
        return;

    const auto alias = TextOf(*fields, "mailNickName");
    const auto displayName = TextOf(*fields, "cn");
    const auto mailAddress = TextOf(*fields, "mail");
    const auto localPart = mailAddress.empty() ? std::string() : MailLocalPart(mailAddress);

    if (IsSystemMailbox(alias)) {
        // Store-wide registrations live in the system mailbox's global events folder.
        const auto state = LookUpRegistration(alias, localPart, "StoreEvents/GlobalEvents");
        auto* list = state == 1 ? SysMbxUninstList : SysMbxInstList;
        list->addItem(
            QString::fromStdString(MailboxEntry(displayName, homeServer, mailAddress, alias)));
        return;
    }

    if (user->AccountDisabled()) {
        if (Check7->isChecked())
            MbxInstList->addItem(QString::fromStdString(
                MailboxEntry(displayName + kDisabledMarker, homeServer, mailAddress, alias)));
        return;
    }

    const auto state = LookUpRegistration(alias, localPart, "inbox");
    auto* list = state == 1 ? MbxUninstList : MbxInstList;
    list->addItem(
        QString::fromStdString(MailboxEntry(displayName, homeServer, mailAddress, alias)));
}

} // namespace lorvanta::setup
