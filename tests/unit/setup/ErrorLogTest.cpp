// The error log's stamp: the regional settings' general date and time format.

#include "setup/ErrorLog.h"
#include "tests/unit/setup/SetupTestClock.h"

#include <gtest/gtest.h>

using namespace lorvanta::setup;
using setuptest::PinnedClockAndLocale;

namespace {

TEST(ErrorLog, GeneralDateFollowsTheLocaleAndDropsTheTimeAtMidnight) {
    struct Case {
        QLocale locale;
        QTime time;
        std::string expected;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(20, 34, 7), "12/6/26 8:34:07 PM"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 0), "12/6/26"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 1), "12/6/26 12:00:01 AM"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(20, 34, 7), "06.12.26 20:34:07"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(0, 0, 0), "06.12.26"},
    };
    for (const auto& c : cases) {
        PinnedClockAndLocale pinned(QDateTime(QDate(2026, 12, 6), c.time), c.locale);
        EXPECT_EQ(GeneralDateTime(LocalNow()), c.expected) << c.locale.name().toStdString();
    }
}

} // namespace
