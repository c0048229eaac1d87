// Saves a picture of each window of the setup program into a folder: the disclaimer, and the
// main window loaded and refreshed against the server folder that EXHOST_ROOT names.

#include "setup/Disclaimer.h"
#include "setup/InstallForm.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <iostream>

namespace {

// Message boxes go to the terminal: a picture run has nobody to answer them.
class ConsoleUserInterface : public lorvanta::setup::UserInterface {
public:
    void MsgBox(QWidget*, const QString& text, lorvanta::setup::MessageIcon,
                const QString& title) override {
        std::cerr << title.toStdString() << ": " << text.toStdString() << "\n";
    }
    void EndProgram(int exitCode) override { ended = exitCode; }
    int ended = -1;
};

bool Save(QWidget& window, const QString& path) {
    const bool saved = window.grab().save(path);
    std::cout << (saved ? "saved " : "could not save ") << path.toStdString() << "\n";
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: setup_screenshots OUTPUT-FOLDER\n";
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    ConsoleUserInterface ui;

    lorvanta::setup::Disclaimer disclaimer(ui, [] {});
    disclaimer.setAttribute(Qt::WA_DeleteOnClose, false);
    disclaimer.show();
    application.processEvents();
    bool ok = Save(disclaimer, output.filePath("disclaimer.png"));
    disclaimer.hide();

    lorvanta::setup::InstallForm form(ui, "");
    if (!form.Load())
        return 1;
    form.show();
    application.processEvents();
    form.FirstActivation(); // the refresh, if showing the window has not run it yet
    auto* registerList = form.findChild<QListWidget*>("MbxInstList");
    if (registerList->count() > 1) {
        registerList->item(0)->setSelected(true);
        registerList->item(1)->setSelected(true);
        form.findChild<QCheckBox*>("Check3")->setChecked(true);
    }
    application.processEvents();
    ok = Save(form, output.filePath("install-form.png")) && ok;
    return ok && ui.ended < 0 ? 0 : 1;
}
