#pragma once

// Pins the setup modules' clock and the process locale for one test.

#include "setup/ErrorLog.h"

#include <QLocale>

namespace setuptest {

class PinnedClockAndLocale {
public:
    explicit PinnedClockAndLocale(QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(20, 34, 7)),
                                  QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates))
        : previousLocale_(QLocale()) {
        previousClock_ = lorvanta::setup::SetLocalClock([now] { return now; });
        QLocale::setDefault(locale);
    }
    ~PinnedClockAndLocale() {
        lorvanta::setup::SetLocalClock(previousClock_);
        QLocale::setDefault(previousLocale_);
    }
    PinnedClockAndLocale(const PinnedClockAndLocale&) = delete;
    PinnedClockAndLocale& operator=(const PinnedClockAndLocale&) = delete;

private:
    lorvanta::setup::LocalClock previousClock_;
    QLocale previousLocale_;
};

// The stamp the pinned clock gives in en_US.
inline const std::string kStamp = "[12/6/26 8:34:07 PM] ";

} // namespace setuptest
