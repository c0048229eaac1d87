#pragma once

// Answers the windows' message boxes at once and notes what they showed.

#include "setup/UserInterface.h"

#include <QString>
#include <vector>

struct ShownMessage {
    QString text;
    lorvanta::setup::MessageIcon icon;
    QString title;
};

class FakeUserInterface : public lorvanta::setup::UserInterface {
public:
    void MsgBox(QWidget*, const QString& text, lorvanta::setup::MessageIcon icon,
                const QString& title) override {
        messages.push_back({text, icon, title});
    }
    void EndProgram(int exitCode) override { exitCodes.push_back(exitCode); }

    std::vector<ShownMessage> messages;
    std::vector<int> exitCodes;
};
