// The main window's event handling: dispatch of failures, the selection rules, list tooltips,
// closing and unloading.

#include "setup/InstallForm.h"

#include "platform/core/Error.h"
#include "setup/Twips.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

namespace lorvanta::setup {

InstallForm::InstallForm(UserInterface& ui, std::string argumentText, QWidget* parent)
    : QWidget(parent), ui_(ui), argumentText_(std::move(argumentText)) {
    CreateControls();
    ConnectRules();
}

InstallForm::~InstallForm() {
    Unload();
}

void InstallForm::Dispatch(const std::function<void()>& handler) {
    std::int32_t number = 0;
    QString description;
    try {
        handler();
        return;
    } catch (const platform::Error& error) {
        number = error.Number();
        description = QString::fromStdString(error.Description());
    } catch (const std::exception& error) {
        number = platform::hr::E_FAIL;
        description = QString::fromUtf8(error.what());
    } catch (...) {
        number = platform::hr::E_UNEXPECTED;
        description = "Unexpected failure";
    }
    ui_.MsgBox(this, QString("Error %1: %2").arg(number).arg(description), MessageIcon::Critical,
               Caption());
    ui_.EndProgram(1);
}

void InstallForm::ConnectRules() {
    struct Pair {
        QCheckBox* box;
        QListWidget* list;
        const char* message;
    };
    const Pair pairs[] = {
        {registerStoreWideBox_, registerStoreWideList_,
         "Please select the mailbox(es) for registration"},
        {registerSelectedBox_, registerSelectedList_,
         "Please select the mailbox(es) for registration"},
        {unregisterSelectedBox_, unregisterSelectedList_,
         "Please select the mailbox(es) for unregistration"},
        {unregisterStoreWideBox_, unregisterStoreWideList_,
         "Please select the mailbox(es) for unregistration"},
    };
    // `toggled` fires for a value set from code as for a click, as the rules expect.
    for (const auto& pair : pairs) {
        connect(pair.box, &QCheckBox::toggled, this, [this, pair] {
            Dispatch([&] { SelectionRule(pair.box, pair.list, pair.message); });
        });
    }
    for (auto* list : {registerStoreWideList_, registerSelectedList_, unregisterSelectedList_,
                       unregisterStoreWideList_})
        list->viewport()->installEventFilter(this);
    connect(exitButton_, &QPushButton::clicked, this, [this] { close(); });
    connect(applyButton_, &QPushButton::clicked, this,
            [this] { Dispatch([this] { ApplyChanges(); }); });
    connect(clearLogButton_, &QPushButton::clicked, this,
            [this] { Dispatch([this] { ClearErrorLog(); }); });
    connect(showDisabledBox_, &QCheckBox::toggled, this,
            [this] { Dispatch([this] { ShowDisabledClicked(); }); });
}

void InstallForm::SelectionRule(QCheckBox* box, QListWidget* list, const QString& message) {
    if (!box->isChecked())
        return;
    if (!list->selectedItems().isEmpty())
        return;
    ui_.MsgBox(this, message, MessageIcon::Information, Caption());
    box->setChecked(false); // runs this rule again, which ends at once
}

void InstallForm::ShowDisabledClicked() {
    if (running_) {
        rebuildPending_ = true; // rebuilt once the running enumeration has finished
        return;
    }
    setCursor(Qt::WaitCursor);
    RunExclusively([this] { GetUsersWithMailboxes(); });
    unsetCursor();
}

void InstallForm::SetListToolTip(QListWidget* list, double y, const QString& defaultText) {
    // The height of one line of the list, in the window's units (twips).
    const double lineHeight = double(QFontMetrics(list->font()).height()) * kTwipsPerPixel;
    const auto row = RoundHalfEven(y) / RoundHalfEven(lineHeight);
    const auto index = list->verticalScrollBar()->value() + row;
    if (index < list->count())
        list->setToolTip(list->item(static_cast<int>(index))->text());
    else
        list->setToolTip(defaultText);
}

bool InstallForm::eventFilter(QObject* watched, QEvent* event) {
    for (auto* list : {registerStoreWideList_, registerSelectedList_, unregisterSelectedList_,
                       unregisterStoreWideList_}) {
        if (watched != list->viewport())
            continue;
        if (event->type() == QEvent::MouseMove) {
            const double y = static_cast<QMouseEvent*>(event)->position().y() * kTwipsPerPixel;
            Dispatch([&] { SetListToolTip(list, y, ""); });
        } else if (event->type() == QEvent::ToolTip) {
            // The list's own tooltip text, not an item's, is what the pointer shows.
            const auto* help = static_cast<QHelpEvent*>(event);
            if (list->toolTip().isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), list->toolTip(), list->viewport());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void InstallForm::Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    for (auto* connection : {&directoryConnection_, &storeConnection_}) {
        try {
            if (*connection)
                (*connection)->Close();
        } catch (...) {
            // Unload ignores every failure.
        }
        connection->reset();
    }
}

void InstallForm::closeEvent(QCloseEvent* event) {
    if (running_) {
        closePending_ = true; // the window must not close under a running refresh or apply
        event->ignore();
        return;
    }
    Unload();
    event->accept();
}

void InstallForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The first activation runs once the window is on the screen.
    QTimer::singleShot(0, this, [this] { Dispatch([this] { FirstActivation(); }); });
}

void InstallForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Dispatch([this] { FirstActivation(); });
}

} // namespace lorvanta::setup
