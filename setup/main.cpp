// LorvantaSetup: installs the Lorvanta sink into COM+ and registers it on mailboxes.

#include "setup/BatchSwitch.h"
#include "setup/Disclaimer.h"
#include "setup/InstallForm.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    lorvanta::setup::QtUserInterface ui;
    const auto argumentText =
        lorvanta::setup::ArgumentText(std::vector<std::string>(argv + 1, argv + argc));

    auto* disclaimer = new lorvanta::setup::Disclaimer(ui, [&ui, argumentText] {
        auto* form = new lorvanta::setup::InstallForm(ui, argumentText);
        form->setAttribute(Qt::WA_DeleteOnClose);
        if (form->Load())
            form->show();
        else
            delete form;
    });
    disclaimer->show();
    return app.exec();
}
