// Message boxes and program exit through Qt, for the windows when no test stands in.

#include "setup/UserInterface.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace lorvanta::setup {

void QtUserInterface::MsgBox(QWidget* parent, const QString& text, MessageIcon icon,
                             const QString& title) {
    const auto qtIcon = icon == MessageIcon::Information   ? QMessageBox::Information
                        : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                           : QMessageBox::Critical;
    QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtUserInterface::EndProgram(int exitCode) {
    // Windows are closed without their own unload handling, as an immediate end would.
    for (auto* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(exitCode);
}

} // namespace lorvanta::setup
