// Bringing the window up to date with the server, and carrying out the administrator's choices.

#include "setup/ComPlus.h"
#include "setup/InstallForm.h"
#include "setup/MailboxEntry.h"
#include "setup/MailboxRegistrations.h"

#include "platform/core/Text.h"
#include "platform/core/Yield.h"

#include <QCoreApplication>

#include <filesystem>

namespace lorvanta::setup {

namespace {

constexpr const char* kApplicationName = "Lorvanta";

bool IsBlankText(const QString& text) {
    return platform::text::IsBlank(text.toStdString());
}

} // namespace

// --- the error log box -------------------------------------------------------------------------

std::string InstallForm::TxtErrLog::Text() const {
    return text_;
}

void InstallForm::TxtErrLog::SetText(const std::string& text) {
    text_ = text;
    box_->setPlainText(QString::fromStdString(text));
}

void InstallForm::ClearErrorLog() {
    clearLogButton_->setVisible(false);
    ErrorLogBox().SetText("");
    errorLogBox_->setVisible(false);
}

// --- refresh -----------------------------------------------------------------------------------

void InstallForm::RefreshForm() {
    RunExclusively([this] { RefreshFormNow(); });
}

void InstallForm::RefreshFormNow() {
    const bool applicationExists = FindComPlusApp(ErrorLogBox(), kApplicationName);
    const auto sinkFile = ComponentPath(kApplicationName);
    const bool sinkFilePresent = std::filesystem::is_regular_file(sinkFile);
    if (!applicationExists && !sinkFilePresent) {
        ErrorLogBox().SetText("[" + GeneralDateTime(LocalNow()) + "] File " + sinkFile +
                              " not found. COM+ object installation impossible.\r\n\r\n" +
                              ErrorLogBox().Text());
    }

    if (!applicationExists && sinkFilePresent) {
        installComPlusBox_->setChecked(true);
        installComPlusBox_->setEnabled(true);
        FillIdentityField();
        identityField_->setEnabled(true);
        identityField_->setVisible(true);
        passwordField_->clear();
        passwordField_->setEnabled(true);
        passwordField_->setVisible(true);
        for (auto* label : {identityLabel_, passwordLabel_, identityExampleLabel_})
            label->setVisible(true);
        uninstallComPlusBox_->setChecked(false);
        uninstallComPlusBox_->setEnabled(false);
    } else {
        installComPlusBox_->setChecked(false);
        installComPlusBox_->setEnabled(false);
        for (auto* box : {identityField_, passwordField_}) {
            box->setEnabled(false);
            box->setVisible(false);
        }
        for (auto* label : {identityLabel_, passwordLabel_, identityExampleLabel_})
            label->setVisible(false);
        uninstallComPlusBox_->setChecked(false);
        uninstallComPlusBox_->setEnabled(applicationExists);
    }

    GetUsersWithMailboxes();

    const bool logHasText = !ErrorLogBox().Text().empty();
    errorLogBox_->setVisible(logHasText);
    clearLogButton_->setVisible(logHasText);
}

// --- apply ---------------------------------------------------------------------------------------

void InstallForm::ApplyChanges() {
    RunExclusively([this] { ApplyChangesNow(); });
}

void InstallForm::ApplyChangesNow() {
    setCursor(Qt::WaitCursor);
    ErrorLogBox().SetText("");

    if (installComPlusBox_->isChecked()) {
        if (IsBlankText(identityField_->text()) || IsBlankText(passwordField_->text())) {
            ui_.MsgBox(this, "Please fill the Identity and Password fields",
                       MessageIcon::Exclamation, Caption());
            unsetCursor();
            return;
        }
        InstallComPlusApp(ErrorLogBox(), kApplicationName, identityField_->text().toStdString(),
                          passwordField_->text().toStdString());
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
        {unregisterStoreWideBox_, unregisterStoreWideList_, registerStoreWideBox_,
         registerStoreWideList_, kGlobalEventsFolder, "ANY"},
        {unregisterSelectedBox_, unregisterSelectedList_, registerSelectedBox_,
         registerSelectedList_, "inbox", "SHALLOW"},
    };
    for (const auto& pass : passes) {
        if (pass.unregisterBox->isChecked()) {
            for (int i = 0; i < pass.registeredList->count(); ++i) {
                if (pass.registeredList->item(i)->isSelected())
                    UnregisterMailbox(
                        ErrorLogBox(), site_,
                        ParseMailboxEntry(pass.registeredList->item(i)->text().toStdString()),
                        pass.folderName);
            }
        }
        if (registerStoreWideBox_->isChecked() || registerSelectedBox_->isChecked() || batchMode_) {
            // A batch run re-creates what it has just removed; otherwise the selected entries of
            // the pass's list of unregistered mailboxes are registered.
            QListWidget* list = batchMode_                      ? pass.registeredList
                                : pass.registerBox->isChecked() ? pass.unregisteredList
                                                                : nullptr;
            for (int i = 0; list && i < list->count(); ++i) {
                if (batchMode_ || list->item(i)->isSelected())
                    RegisterMailbox(ErrorLogBox(), site_,
                                    ParseMailboxEntry(list->item(i)->text().toStdString()),
                                    pass.folderName, pass.matchScope);
            }
        }
    }

    if (uninstallComPlusBox_->isChecked())
        RemoveComPlusApp(ErrorLogBox(), kApplicationName);

    RefreshFormNow();
    unsetCursor();
}

// --- first activation ------------------------------------------------------------------------

void InstallForm::FirstActivation() {
    if (firstActivationDone_)
        return;
    firstActivationDone_ = true;
    RefreshForm();
    // The rule for a batch run whose window is closed during this first refresh: the run ends
    // there, nothing is applied and no error is shown; the program ends as it does for any
    // closed window, with exit code 0. Going on would work against closed connections.
    if (unloaded_)
        return;
    if (!batchMode_)
        return;
    registerStoreWideBox_->setChecked(false);
    registerSelectedBox_->setChecked(false);
    if (unregisterStoreWideList_->count() > 0) {
        for (int i = 0; i < unregisterStoreWideList_->count(); ++i)
            unregisterStoreWideList_->item(i)->setSelected(true);
        unregisterStoreWideBox_->setChecked(true);
    }
    if (unregisterSelectedList_->count() > 0) {
        for (int i = 0; i < unregisterSelectedList_->count(); ++i)
            unregisterSelectedList_->item(i)->setSelected(true);
        unregisterSelectedBox_->setChecked(true);
    }
    if (unregisterSelectedBox_->isChecked() || unregisterStoreWideBox_->isChecked())
        ApplyChanges();
    close();
}

// --- one long operation at a time ------------------------------------------------------------

void InstallForm::RunExclusively(const std::function<void()>& work) {
    if (running_) // the click came in while the window processed events inside a running one
        return;
    running_ = true;
    // The one way the window stays responsive: long work yields to it through the platform's
    // hook (a directory search between pages, the enumeration between rows), and the window
    // handles its events there.
    platform::ScopedYieldHook keepResponsive([] { QCoreApplication::processEvents(); });
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
