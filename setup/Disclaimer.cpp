// The notice window at start-up: accepting it opens the main window, declining it ends the program.

#include "setup/Disclaimer.h"

#include "setup/Fonts.h"
#include "setup/Twips.h"

namespace lorvanta::setup {

const char* const Disclaimer::kNotice =
    "LIMITATION OF LIABILITY. \r\n"
    "\r\n"
    "TO THE MAXIMUM EXTENT PERMITTED BY APPLICABLE LAW, IN NO EVENT SHALL THE CREATOR OF THIS "
    "SOFTWARE BE LIABLE FOR ANY SPECIAL, INCIDENTAL, INDIRECT, OR CONSEQUENTIAL DAMAGES WHATSOEVER "
    "(INCLUDING, WITHOUT LIMITATION, DAMAGES FOR LOSS OF BUSINESS PROFITS, BUSINESS INTERRUPTION, "
    "LOSS OF BUSINESS INFORMATION, OR ANY OTHER PECUNIARY LOSS) ARISING OUT OF THE USE OF OR "
    "INABILITY TO USE THE SOFTWARE PRODUCT OR THE FAILURE TO PROVIDE SUPPORT SERVICES.\r\n"
    "\r\n"
    "\r\n"
    "\r\n"
    "--------------------------------------------------------------------------------\r\n";

const char* const Disclaimer::kQuestion =
    "Do you accept all of of the terms of the preceding Limitation of Liability? To install you "
    "must accept the Limitation of Liability . If  you choose No, install will close.";

Disclaimer::Disclaimer(UserInterface& ui, std::function<void()> showMainWindow, QWidget* parent)
    : QWidget(parent), ui_(ui), showMainWindow_(std::move(showMainWindow)) {
    setObjectName("Disclaimer");
    setWindowTitle("Lorvanta setup");
    setFixedSize(TwipsToPixels(4920), TwipsToPixels(4905));
    setFont(DialogFont());
    setAttribute(Qt::WA_DeleteOnClose);

    Label1 = new QLabel(QString::fromUtf8(kNotice), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(TwipsRect(240, 240, 4455, 2775));
    Label2 = new QLabel(QString::fromUtf8(kQuestion), this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(TwipsRect(240, 3120, 4575, 855));
    for (auto* label : {Label1, Label2}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    Command1 = new QPushButton("Yes", this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(TwipsRect(2400, 4200, 975, 495));
    Command2 = new QPushButton("No", this);
    Command2->setObjectName("Command2");
    Command2->setGeometry(TwipsRect(3840, 4200, 975, 495));
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, [this] { Yes(); });
    connect(Command2, &QPushButton::clicked, this, [this] { No(); });
}

void Disclaimer::Yes() {
    // Each step runs even when the one before it failed.
    try {
        setCursor(Qt::WaitCursor);
    } catch (...) {
    }
    try {
        showMainWindow_();
    } catch (...) {
    }
    try {
        unsetCursor();
    } catch (...) {
    }
    try {
        close();
    } catch (...) {
    }
}

void Disclaimer::No() {
    ui_.EndProgram(0);
}

} // namespace lorvanta::setup
