// Bringing the window up to date with the server, and carrying out the administrator's choices.

#include "setup/ComPlus.h"
#include "setup/InstallForm.h"
#include "setup/Items.h"
#include "setup/MailboxEntry.h"

#include "platform/core/Text.h"
#include "platform/core/Yield.h"

#include <QCoreApplication>

#include <filesystem>

namespace lorvanta::setup {

namespace {

constexpr const char* kApplicationName = "Lorvanta";
constexpr const char* kRegistrationName = "Lorvanta.reg";
constexpr const char* kEventMethod = "onsyncsave";
constexpr const char* kSinkClass = "Lorvanta.LorvantaCls";
constexpr const char* kCriteria = " WHERE \"DAV:ishidden\" = FALSE";
constexpr const char* kPriority = "1";

bool IsBlankText(const QString& text) {
    return platform::text::IsBlank(text.toStdString());
}

} // namespace

std::string SinkFilePath() {
    return (std::filesystem::current_path() / (std::string(kApplicationName) + ".dll")).string();
}

// --- the error log box -------------------------------------------------------------------------

std::string InstallForm::TxtErrLog::Text() const {
    return text_;
}

void InstallForm::TxtErrLog::SetText(const std::string& text) {
    text_ = text;
    box_->setPlainText(QString::fromStdString(text));
}

void InstallForm::ClearErrorLog() {
    Command3->setVisible(false);
    ErrorLogBox().SetText("");
    txtErr->setVisible(false);
}

// --- refresh -----------------------------------------------------------------------------------

void InstallForm::RefreshForm() {
    RunExclusively([this] { RefreshFormNow(); });
}

void InstallForm::RefreshFormNow() {
    const bool applicationExists = FindComPlusApp(ErrorLogBox(), kApplicationName);
    const auto sinkFile = SinkFilePath();
    const bool sinkFilePresent = std::filesystem::is_regular_file(sinkFile);
    if (!applicationExists && !sinkFilePresent) {
        ErrorLogBox().SetText("[" + GeneralDateTime(LocalNow()) + "] File " + sinkFile +
                              " not found. COM+ object installation impossible.\r\n\r\n" +
                              ErrorLogBox().Text());
    }

    if (!applicationExists && sinkFilePresent) {
        Check1->setChecked(true);
        Check1->setEnabled(true);
        FillIdentityField();
        txtIdent->setEnabled(true);
        txtIdent->setVisible(true);
        txtPwd->clear();
        txtPwd->setEnabled(true);
        txtPwd->setVisible(true);
        for (auto* label : {Label3, Label2, Label7})
            label->setVisible(true);
        Check6->setChecked(false);
        Check6->setEnabled(false);
    } else {
        Check1->setChecked(false);
        Check1->setEnabled(false);
        for (auto* box : {txtIdent, txtPwd}) {
            box->setEnabled(false);
            box->setVisible(false);
        }
        for (auto* label : {Label3, Label2, Label7})
            label->setVisible(false);
        Check6->setChecked(false);
        Check6->setEnabled(applicationExists);
    }

    GetUsersWithMailboxes();

    const bool logHasText = !ErrorLogBox().Text().empty();
    txtErr->setVisible(logHasText);
    Command3->setVisible(logHasText);
}

// --- apply ---------------------------------------------------------------------------------------

void InstallForm::ApplyChanges() {
    RunExclusively([this] { ApplyChangesNow(); });
}

void InstallForm::ApplyChangesNow() {
    setCursor(Qt::WaitCursor);
    ErrorLogBox().SetText("");

    if (Check1->isChecked()) {
        if (IsBlankText(txtIdent->text()) || IsBlankText(txtPwd->text())) {
            ui_.MsgBox(this, "Please fill the Identity and Password fields",
                       MessageIcon::Exclamation, Caption());
            unsetCursor();
            return;
        }
        InstallComPlusApp(ErrorLogBox(), kApplicationName, txtIdent->text().toStdString(),
                          txtPwd->text().toStdString());
    }

    struct Pass {
        QCheckBox* unregisterBox;
        QListWidget* registeredList;
        QCheckBox* registerBox;
        QListWidget* unregisteredList;
        const char* folderName;
        const char* matchScope;
    };
    const Pass passes[] = {
        {Check5, SysMbxUninstList, Check2, SysMbxInstList, "StoreEvents/GlobalEvents", "ANY"},
        {Check4, MbxUninstList, Check3, MbxInstList, "inbox", "SHALLOW"},
    };
    for (const auto& pass : passes) {
        if (pass.unregisterBox->isChecked()) {
            for (int i = 0; i < pass.registeredList->count(); ++i) {
                if (pass.registeredList->item(i)->isSelected())
                    Unregister(
                        ParseMailboxEntry(pass.registeredList->item(i)->text().toStdString()),
                        pass.folderName);
            }
        }
        if (Check2->isChecked() || Check3->isChecked() || blnBatchMode) {
            // A batch run re-creates what it has just removed; otherwise the selected entries of
            // the pass's list of unregistered mailboxes are registered.
            QListWidget* list = blnBatchMode                    ? pass.registeredList
                                : pass.registerBox->isChecked() ? pass.unregisteredList
                                                                : nullptr;
            for (int i = 0; list && i < list->count(); ++i) {
                if (blnBatchMode || list->item(i)->isSelected())
                    Register(ParseMailboxEntry(list->item(i)->text().toStdString()),
                             pass.folderName, pass.matchScope);
            }
        }
    }

    if (Check6->isChecked())
        RemoveComPlusApp(ErrorLogBox(), kApplicationName);

    RefreshFormNow();
    unsetCursor();
}

void InstallForm::Unregister(const EntryFields& entry, const std::string& folderName) {
    struct Attempt {
        bool when;
        std::string url;
        bool logErrors;
    };
    const bool hasAlias = !entry.alias.empty();
    const Attempt attempts[] = {
        {true, FolderURL + "/" + entry.localPart, false},
        {hasAlias, FolderURL + "/" + entry.alias, true},
        {hasAlias, FileFolderURL + "/" + entry.alias, true},
        {true, FileFolderURL + "/" + entry.localPart, false},
    };
    for (const auto& attempt : attempts) {
        if (attempt.when && DeleteEventRegistration(ErrorLogBox(), attempt.url, folderName,
                                                    kRegistrationName, attempt.logErrors))
            return;
    }
}

void InstallForm::Register(const EntryFields& entry, const std::string& folderName,
                           const std::string& matchScope) {
    struct Attempt {
        bool when;
        std::string url;
        bool logErrors;
    };
    const bool hasLocal = !entry.localPart.empty();
    const bool hasDomain = hasLocal && !entry.mailDomain.empty();
    const bool hasAlias = !entry.alias.empty();
    const Attempt attempts[] = {
        {hasDomain, "file://./backofficestorage/" + entry.mailDomain + "/mbx/" + entry.localPart,
         false},
        {hasDomain,
         "http://" + ComputerName + "/exadmin/" + entry.mailDomain + "/mbx/" + entry.localPart,
         false},
        {hasLocal, FileFolderURL + "/" + entry.localPart, false},
        {hasLocal, FolderURL + "/" + entry.localPart, !hasAlias},
        {hasAlias, FileFolderURL + "/" + entry.alias, false},
        {hasAlias, FolderURL + "/" + entry.alias, true},
    };
    for (const auto& attempt : attempts) {
        if (attempt.when &&
            !CreateEventRegistration(ErrorLogBox(), attempt.url, folderName, kRegistrationName,
                                     kEventMethod, kSinkClass, matchScope, kCriteria, kPriority,
                                     attempt.logErrors)
                 .empty())
            return;
    }
}

// --- first activation ------------------------------------------------------------------------

void InstallForm::FirstActivation() {
    if (blnNotFirstTime)
        return;
    blnNotFirstTime = true;
    RefreshForm();
    if (!blnBatchMode)
        return;
    Check2->setChecked(false);
    Check3->setChecked(false);
    if (SysMbxUninstList->count() > 0) {
        for (int i = 0; i < SysMbxUninstList->count(); ++i)
            SysMbxUninstList->item(i)->setSelected(true);
        Check5->setChecked(true);
    }
    if (MbxUninstList->count() > 0) {
        for (int i = 0; i < MbxUninstList->count(); ++i)
            MbxUninstList->item(i)->setSelected(true);
        Check4->setChecked(true);
    }
    if (Check4->isChecked() || Check5->isChecked())
        ApplyChanges();
    close();
}

// --- one long operation at a time ------------------------------------------------------------

void InstallForm::RunExclusively(const std::function<void()>& work) {
    if (running_) // the click came in while the window processed events inside a running one
        return;
    running_ = true;
    // The window keeps handling its events while a long directory search runs.
    platform::ScopedYieldHook keepPainting([] { QCoreApplication::processEvents(); });
    try {
        work();
    } catch (...) {
        running_ = false;
        throw;
    }
    if (rebuildPending_) {
        rebuildPending_ = false;
        try {
            GetUsersWithMailboxes();
        } catch (...) {
            running_ = false;
            throw;
        }
    }
    running_ = false;
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

} // namespace lorvanta::setup
