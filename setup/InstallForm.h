#pragma once

// The setup program's main window: installs the sink into COM+, lists the mailboxes of this
// server by registration state, registers and unregisters the sink on those selected. The
// controls keep the object names the window's code has always known them by (Check1, txtErr,
// Command1, ...), so that scripts and tests find them with findChild.

#include "platform/core/Ado.h"
#include "setup/ErrorLog.h"
#include "setup/MailboxEntry.h"
#include "setup/MailboxSite.h"
#include "setup/RowProgressBar.h"
#include "setup/UserInterface.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

namespace lorvanta::setup {

// The directory query for every person with a mailbox below the search root.
std::string MailboxQuery(const std::string& searchRoot);

class InstallForm : public QWidget {
    Q_OBJECT
public:
    // `argumentText` is the program's command line after the program name.
    InstallForm(UserInterface& ui, std::string argumentText, QWidget* parent = nullptr);
    ~InstallForm() override;

    // Discovers where the program runs and opens the connections. A failure is shown and ends
    // the program; the result tells whether the load completed.
    bool Load();

    // Brings every control up to date with the server.
    void RefreshForm();
    // "CHANGE": carries out what is ticked and selected, then refreshes.
    void ApplyChanges();
    // "Clear Error Log".
    void ClearErrorLog();
    // Refreshes when the window is first activated; in batch mode re-creates every registration
    // and closes.
    void FirstActivation();
    // Fills the four mailbox lists from the directory and the store.
    void GetUsersWithMailboxes();
    // The error log (txtErr) as the module operations write it.
    ErrorLog& ErrorLogBox() { return errorLog_; }
    // Started with the batch switch.
    bool BatchMode() const { return batchMode_; }

    // Sets the list's tooltip to the entry under the pointer; `y` in twips from the list's top.
    void SetListToolTip(QListWidget* list, double y, const QString& defaultText);

    // Runs a handler the way the window's event dispatch does: a failure that escapes it is shown
    // with its number and description, and the program ends.
    void Dispatch(const std::function<void()>& handler);

    // Unload: closes both connections, ignoring every failure.
    void Unload();

    UserInterface& ui() { return ui_; }
    QString Caption() const { return windowTitle(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectRules();
    void SelectionRule(QCheckBox* box, QListWidget* list, const QString& message);
    void ShowDisabledClicked();
    void FillIdentityField();
    void RefreshFormNow();
    void ApplyChangesNow();
    void AddMailboxRow(platform::ado::Recordset& rows);
    // Runs a refresh or an apply; one that would start inside a running one is dropped, and a
    // close asked for meanwhile waits for the end.
    void RunExclusively(const std::function<void()>& work);

    // The log's text is kept whole here (line breaks included); txtErr shows it.
    class TxtErrLog final : public ErrorLog {
    public:
        explicit TxtErrLog(QPlainTextEdit*& box) : box_(box) {}
        std::string Text() const override;
        void SetText(const std::string& text) override;

    private:
        QPlainTextEdit*& box_;
        std::string text_;
    };

    // Controls, by role; their object names are given in CreateControls.
    QCheckBox* installComPlusBox_;
    QLabel* identityLabel_;
    QLineEdit* identityField_;
    QLabel* passwordLabel_;
    QLineEdit* passwordField_;
    QLabel* identityExampleLabel_;
    QCheckBox* registerStoreWideBox_;
    QListWidget* registerStoreWideList_;
    QCheckBox* registerSelectedBox_;
    QListWidget* registerSelectedList_;
    QCheckBox* showDisabledBox_;
    QLabel* selectionHintLabel_;
    QCheckBox* unregisterSelectedBox_;
    QListWidget* unregisterSelectedList_;
    QCheckBox* unregisterStoreWideBox_;
    QListWidget* unregisterStoreWideList_;
    QCheckBox* uninstallComPlusBox_;
    QPlainTextEdit* errorLogBox_;
    RowProgressBar* progressBar_;
    QPushButton* clearLogButton_;
    QPushButton* applyButton_;
    QPushButton* exitButton_;

    // Found at load and fixed from then on.
    bool batchMode_ = false;
    MailboxSite site_;
    std::string searchRoot_;
    std::shared_ptr<platform::ado::Connection> directoryConnection_;
    std::shared_ptr<platform::ado::Connection> storeConnection_;

    UserInterface& ui_;
    std::string argumentText_;
    bool firstActivationDone_ = false;
    bool unloaded_ = false;
    TxtErrLog errorLog_{errorLogBox_};
    bool running_ = false;
    bool closePending_ = false;
    bool rebuildPending_ = false;
};

} // namespace lorvanta::setup
