#pragma once

// The setup program's main window.

#include "platform/core/Ado.h"
#include "setup/ErrorLog.h"
#include "setup/MailboxEntry.h"
#include "setup/PictureBox.h"
#include "setup/UserInterface.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lorvanta::setup {

// The logon name of the user the program runs as.
std::string GetLogonUserName();
// The identity proposed for an account whose directory class has the DN `category`.
std::string IdentityFromCategory(const std::string& category, const std::string& logonName);
// The directory query for the running user's account.
std::string AccountQuery(const std::string& searchRoot, const std::string& logonName);

// The directory query for every person with a mailbox below the search root.
std::string MailboxQuery(const std::string& searchRoot);
// Where the sink's file is looked for and installed from: the current directory.
std::string SinkFilePath();

class InstallForm : public QWidget {
    Q_OBJECT
public:
    // `argumentText` is the program's command line after the program name.
    InstallForm(UserInterface& ui, std::string argumentText, QWidget* parent = nullptr);
    ~InstallForm() override;

    // Discovers where the program runs and opens the connections. A failure is shown and ends
    // the program; the result tells whether the load completed.
    bool Load();

    // Window variables, fixed after load.
    bool blnBatchMode = false;
    std::string ComputerName;
    std::string ShortComputerName;
    std::string FolderURL;
    std::string FileFolderURL;
    std::string strSearchRoot;
    std::shared_ptr<platform::ado::Connection> cnn;
    std::shared_ptr<platform::ado::Connection> cnn1;
    bool blnNotFirstTime = false;
    std::int32_t FileBytes = 0;

    // Controls, named as the window's code knows them.
    QCheckBox* Check1;
    QLabel* Label3;
    QLineEdit* txtIdent;
    QLabel* Label2;
    QLineEdit* txtPwd;
    QLabel* Label7;
    QCheckBox* Check2;
    QListWidget* SysMbxInstList;
    QCheckBox* Check3;
    QListWidget* MbxInstList;
    QCheckBox* Check7;
    QLabel* Label1;
    QCheckBox* Check4;
    QListWidget* MbxUninstList;
    QCheckBox* Check5;
    QListWidget* SysMbxUninstList;
    QCheckBox* Check6;
    QPlainTextEdit* txtErr;
    PictureBox* Picture1;
    QPushButton* Command3;
    QPushButton* Command1;
    QPushButton* Command2;

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

    // Proposes the running user's account as the COM+ identity in txtIdent.
    void FillIdentityField();
    // Gives Picture1 what the progress bar needs (part of Load).
    void PrepareProgressBar();
    // Draws the progress bar after adding `increment` to FileBytes.
    void UpdateStatus(std::int32_t increment);
    // The percentage the progress bar shows for FileBytes ("" without a total).
    QString ProgressText() const;
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
    void RefreshFormNow();
    void ApplyChangesNow();
    void AddMailboxRow(platform::ado::Recordset& rows);
    std::int16_t LookUpRegistration(const std::string& alias, const std::string& localPart,
                                    const std::string& folderName);
    void Unregister(const EntryFields& entry, const std::string& folderName);
    void Register(const EntryFields& entry, const std::string& folderName,
                  const std::string& matchScope);
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

    UserInterface& ui_;
    std::string argumentText_;
    bool unloaded_ = false;
    TxtErrLog errorLog_{txtErr};
    bool running_ = false;
    bool closePending_ = false;
    bool rebuildPending_ = false;
};

} // namespace lorvanta::setup
