#pragma once

// What the windows ask of the person in front of them, behind one seam so that tests can answer.

#include <QString>

class QWidget;

namespace lorvanta::setup {

enum class MessageIcon { Information, Exclamation, Critical };

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal message box with a single OK button; returns when it is acknowledged.
    virtual void MsgBox(QWidget* parent, const QString& text, MessageIcon icon,
                        const QString& title) = 0;
    // Ends the program with the given exit code once control returns to the event loop.
    virtual void EndProgram(int exitCode) = 0;
};

// The real thing: Qt message boxes and the application's event loop.
class QtUserInterface final : public UserInterface {
public:
    void MsgBox(QWidget* parent, const QString& text, MessageIcon icon,
                const QString& title) override;
    void EndProgram(int exitCode) override;
};

} // namespace lorvanta::setup
