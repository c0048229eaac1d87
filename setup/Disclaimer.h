#pragma once

// The start-up window: a limitation-of-liability notice that must be accepted.

#include "setup/UserInterface.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <functional>

namespace lorvanta::setup {

class Disclaimer : public QWidget {
    Q_OBJECT
public:
    // `showMainWindow` creates, loads and shows the main window.
    Disclaimer(UserInterface& ui, std::function<void()> showMainWindow, QWidget* parent = nullptr);

    static const char* const kNotice;
    static const char* const kQuestion;

    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Command1;
    QPushButton* Command2;

private:
    void Yes();
    void No();

    UserInterface& ui_;
    std::function<void()> showMainWindow_;
};

} // namespace lorvanta::setup
