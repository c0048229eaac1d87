// Filling the four mailbox lists: every person with a mailbox on this server, split by whether
// the sink's registration item lies in its Inbox (system mailboxes: in their global events folder).

#include "platform/core/Ado.h"
#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Yield.h"
#include "platform/directory/Ads.h"
#include "setup/InstallForm.h"
#include "setup/MailboxRegistrations.h"
#include "setup/MailboxRowRules.h"
#include "setup/PaintThrottle.h"

namespace lorvanta::setup {

namespace {

std::string TextOf(platform::ado::Fields& fields, const char* name) {
    const auto value = fields.Item(std::string(name))->Value();
    return (value.IsNull() || value.IsEmpty()) ? std::string() : value.ToText();
}

} // namespace

std::string MailboxQuery(const std::string& searchRoot) {
    return "SELECT adspath, cn, msExchHomeServerName,mailNickName,mail FROM '" + searchRoot +
           "' WHERE objectcategory='person' AND MsExchMailboxGuid='*' ORDER BY cn";
}

void InstallForm::GetUsersWithMailboxes() {
    for (auto* list : {unregisterStoreWideList_, registerStoreWideList_, unregisterSelectedList_,
                       registerSelectedList_})
        list->clear();
    registerStoreWideBox_->setChecked(false);
    unregisterStoreWideBox_->setChecked(false);

    auto command = platform::CreateObjectAs<platform::ado::Command>("ADODB.Command");
    command->SetActiveConnection(directoryConnection_);
    command->SetCommandText(MailboxQuery(searchRoot_));
    command->SetProperty("searchscope", 2);
    command->SetProperty("cache results", true);
    command->SetProperty("Chase Referrals", 96);
    command->SetProperty("Page Size", 100);
    command->SetProperty("Size Limit", 30000);
    command->SetProperty("Timeout", 120);
    auto rows = command->Execute();

    if (!rows->Eof()) {
        progressBar_->Start(static_cast<double>(rows->RecordCount()));
        progressBar_->show();
        {
            PaintThrottle painting({progressBar_, unregisterStoreWideList_, registerStoreWideList_,
                                    unregisterSelectedList_, registerSelectedList_});
            while (!rows->Eof()) {
                progressBar_->Advance(1);
                platform::YieldToCaller();
                AddMailboxRow(*rows);
                rows->MoveNext();
            }
        }
        progressBar_->Cls();
        progressBar_->repaint();
        progressBar_->hide();
    }
    rows->Close();

    const std::pair<QCheckBox*, QListWidget*> pairs[] = {
        {registerStoreWideBox_, registerStoreWideList_},
        {registerSelectedBox_, registerSelectedList_},
        {unregisterSelectedBox_, unregisterSelectedList_},
        {unregisterStoreWideBox_, unregisterStoreWideList_}};
    for (const auto& [box, list] : pairs) {
        box->setChecked(false);
        box->setEnabled(list->count() > 0);
    }
}

void InstallForm::AddMailboxRow(platform::ado::Recordset& rows) {
    auto fields = rows.Fields();
    auto user = platform::GetObjectAs<platform::directory::IADsUser>(TextOf(*fields, "adspath"));
    const DirectoryRow row{TextOf(*fields, "cn"), TextOf(*fields, "msExchHomeServerName"),
                           TextOf(*fields, "mailNickName"), TextOf(*fields, "mail")};
    const auto placement = PlaceMailboxRow(
        row, site_.shortComputerName, showDisabledBox_->isChecked(),
        [&] { return user->AccountDisabled(); },
        [this](const std::string& alias, const std::string& localPart,
               const std::string& folderName) {
            return LookUpRegistration(ErrorLogBox(), site_, alias, localPart, folderName,
                                      storeConnection_);
        });
    QListWidget* list = nullptr;
    switch (placement.list) {
    case MailboxList::None:
        return;
    case MailboxList::RegisterStoreWide:
        list = registerStoreWideList_;
        break;
    case MailboxList::UnregisterStoreWide:
        list = unregisterStoreWideList_;
        break;
    case MailboxList::RegisterSelected:
        list = registerSelectedList_;
        break;
    case MailboxList::UnregisterSelected:
        list = unregisterSelectedList_;
        break;
    }
    list->addItem(QString::fromStdString(placement.entry));
}

} // namespace lorvanta::setup
