// Dates as messages carry them: every form RFC 5322 allows, the obsolete ones included, and
// texts that are no date.

#include "server/message/MessageDate.h"

#include <gtest/gtest.h>

using namespace server::message;

namespace {

// 7 Dec 2026 10:00:00 UTC.
constexpr long long kMonday = 1796637600;

TEST(MessageDateTest, ReadsEveryFormOfADateTimeAndNothingElse) {
    struct Case {
        const char* text;
        std::optional<long long> seconds;
    };
    const Case cases[] = {
        // Day name or not, seconds or not.
        {"Mon, 7 Dec 2026 10:00:00 +0000", kMonday},
        {"7 Dec 2026 10:00:00 +0000", kMonday},
        {"Mon, 7 Dec 2026 10:00 +0000", kMonday},
        {"7 Dec 2026 10:00 +0000", kMonday},
        {"Mon, 07 Dec 2026 10:00:00 +0000", kMonday},
        {"mon, 7 dec 2026 10:00:00 +0000", kMonday},
        // Numeric zones, also without seconds.
        {"7 Dec 2026 12:00:00 +0200", kMonday},
        {"7 Dec 2026 12:00 +0200", kMonday},
        {"Mon, 7 Dec 2026 05:00 -0500", kMonday},
        {"7 Dec 2026 15:30 +0530", kMonday},
        {"7 Dec 2026 10:00:00 -0000", kMonday},
        // Years: four digits, two (from 1950 to 2049) and three (from 1900).
        {"Mon, 7 Dec 26 10:00:00 +0000", kMonday},
        {"Tue, 7 Dec 99 10:00:00 +0000", 944560800},
        {"7 Dec 126 10:00:00 +0000", kMonday},
        {"Tue, 7 Dec 099 10:00:00 +0000", 944560800},
        // The obsolete named zones.
        {"7 Dec 2026 10:00:00 UT", kMonday},
        {"Mon, 7 Dec 26 10:00:00 GMT", kMonday},
        {"7 Dec 2026 05:00:00 EST", kMonday},
        {"7 Dec 2026 06:00:00 EDT", kMonday},
        {"7 Dec 2026 04:00:00 CST", kMonday},
        {"7 Dec 2026 05:00 CDT", kMonday},
        {"7 Dec 2026 03:00:00 MST", kMonday},
        {"7 Dec 2026 04:00 MDT", kMonday},
        {"7 Dec 2026 02:00:00 PST", kMonday},
        {"7 Dec 2026 03:00 pdt", kMonday},
        // Military letters and unknown names count as +0000.
        {"7 Dec 2026 10:00:00 Z", kMonday},
        {"7 Dec 2026 10:00:00 A", kMonday},
        {"7 Dec 2026 10:00 m", kMonday},
        {"7 Dec 2026 10:00:00 Y", kMonday},
        {"7 Dec 2026 10:00:00 CEST", kMonday},
        // Comments and folding white space between the parts.
        {"Mon (Monday), 7 Dec 2026 10:00:00 +0000 (UTC)", kMonday},
        {"Mon,\r\n 7 Dec\r\n\t2026 10:00:00\r\n +0000", kMonday},
        {"  Mon ,7 Dec 2026 10:00:00 +0000  ", kMonday},
        {"7 (day) Dec (month) 2026 (year) 10 : 00 : 00 (time) +0000", kMonday},
        {"7 Dec 2026 10:00:00 +0000 (a (nested) comment with a \\) in it)", kMonday},
        // A date alone is its midnight in UTC; a leap second is the next second.
        {"7 Dec 2026", 1796601600},
        {"Thu, 29 Feb 2024", 1709164800},
        {"7 Dec 2026 09:59:60 +0000", kMonday},
        // No dates.
        {"", std::nullopt},
        {"yesterday", std::nullopt},
        {"Foo, 7 Dec 2026 10:00:00 +0000", std::nullopt},  // no day name
        {"Mon 7 Dec 2026 10:00:00 +0000", std::nullopt},   // a day name without its comma
        {"Mon, 32 Dec 2026 10:00:00 +0000", std::nullopt}, // no such day
        {"31 Nov 2026 10:00:00 +0000", std::nullopt},
        {"29 Feb 2026 10:00:00 +0000", std::nullopt},
        {"123 Dec 2026 10:00:00 +0000", std::nullopt},
        {"7 Foo 2026 10:00:00 +0000", std::nullopt}, // no such month
        {"7 December 2026 10:00:00 +0000", std::nullopt},
        {"7 Dec 6 10:00:00 +0000", std::nullopt},     // a one-digit year
        {"7 Dec 20266 10:00:00 +0000", std::nullopt}, // a five-digit one
        {"7 Dec 2026 24:00:00 +0000", std::nullopt},  // no such time
        {"7 Dec 2026 10:60 +0000", std::nullopt},
        {"7 Dec 2026 10:00:61 +0000", std::nullopt},
        {"7 Dec 2026 10 +0000", std::nullopt},        // no minutes
        {"7 Dec 2026 10:0 +0000", std::nullopt},      // one digit of minutes
        {"7 Dec 2026 10:00:00 +020", std::nullopt},   // a zone of three digits
        {"7 Dec 2026 10:00:00 +02:00", std::nullopt}, // a zone with a colon
        {"7 Dec 2026 10:00:00 +0260", std::nullopt},  // 60 minutes east
        {"7 Dec 2026 10:00:00 J", std::nullopt},      // the letter that names no zone
        {"7 Dec 2026 10:00:00 ABCDEF", std::nullopt},
        {"7 Dec 2026 10:00:00 +0000 trailing", std::nullopt},
        {"7 Dec 2026 10:00:00 +0000 (not closed", std::nullopt},
        {"7/12/2026", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseMessageDate(c.text), c.seconds) << c.text;
}

TEST(MessageDateTest, WritesADateTimeInUtcThatReadsBack) {
    EXPECT_EQ(FormatMessageDate(kMonday), "Mon, 07 Dec 2026 10:00:00 +0000");
    EXPECT_EQ(FormatMessageDate(1709164800 + 59), "Thu, 29 Feb 2024 00:00:59 +0000");
    for (const long long seconds : {0LL, 944560800LL, kMonday, 1709164800LL + 86399})
        EXPECT_EQ(ParseMessageDate(FormatMessageDate(seconds)), seconds) << seconds;
}

TEST(MessageDateTest, MonthsAndDaysOfTheCalendar) {
    EXPECT_EQ(MonthNumber("Jan"), 1);
    EXPECT_EQ(MonthNumber("dEC"), 12);
    EXPECT_EQ(MonthNumber("Dece"), std::nullopt);
    EXPECT_EQ(MonthNumber(""), std::nullopt);
    for (int month = 1; month <= 12; ++month)
        EXPECT_EQ(MonthNumber(MonthName(month)), month);
    EXPECT_EQ(DaysSinceEpoch(1970, 1, 1), 0);
    EXPECT_EQ(DaysSinceEpoch(2026, 12, 7), kMonday / 86400);
    EXPECT_EQ(DaysSinceEpoch(1969, 12, 31), -1);
    EXPECT_EQ(DaysSinceEpoch(2024, 3, 1) - DaysSinceEpoch(2024, 2, 28), 2);
    // Past the month's end the count goes on, as timegm's does.
    EXPECT_EQ(DaysSinceEpoch(2026, 2, 31), DaysSinceEpoch(2026, 3, 3));
}

} // namespace
