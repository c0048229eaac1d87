// Registers the substitute families once, then hands out the dialog and terminal fonts.

#include "setup/Fonts.h"

#include <QStringList>

namespace lorvanta::setup {

namespace {
void InstallSubstitutes() {
    static const bool installed = [] {
        QFont::insertSubstitutions(
            "MS Sans Serif", QStringList{"Liberation Sans", "Arial", "DejaVu Sans Condensed"});
        QFont::insertSubstitutions("Terminal", QStringList{"Liberation Mono", "DejaVu Sans Mono"});
        return true;
    }();
    (void)installed;
}
} // namespace

QFont DialogFont() {
    InstallSubstitutes();
    return QFont("MS Sans Serif", 8);
}

QFont TerminalFont() {
    InstallSubstitutes();
    QFont terminal("Terminal", 9);
    terminal.setStyleHint(QFont::TypeWriter);
    terminal.setFixedPitch(true);
    return terminal;
}

} // namespace lorvanta::setup
