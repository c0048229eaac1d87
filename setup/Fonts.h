#pragma once

// The windows ask for the classic dialog fonts; where those are missing (everywhere but the
// original platform), metric-compatible or similar families take their place.

#include <QFont>

namespace lorvanta::setup {

QFont DialogFont();
// "Terminal" 9 point, or a fixed-pitch font of that size where it is missing.
QFont TerminalFont();

} // namespace lorvanta::setup
