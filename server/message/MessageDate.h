#pragma once

// Dates as messages carry them (RFC 5322 section 3.3, with the obsolete forms of section 4.3),
// read and written; the calendar arithmetic that IMAP's own dates use as well.

#include <optional>
#include <string>
#include <string_view>

namespace server::message {

// 1 for "Jan" to 12 for "Dec", in any letter case; nothing for another text.
std::optional<int> MonthNumber(std::string_view name);

// Days since 1 January 1970 of a day of the Gregorian calendar. A day past the month's end
// counts on into the next month, as the C library's timegm does.
long long DaysSinceEpoch(int year, int month, int day);

// Seconds since 1970 (UTC) of a date-time: an optional day name and comma, the day, month and
// year (2- and 3-digit years as RFC 5322 reads them), then optionally the time (seconds
// optional) and a zone: numeric ("+0200"), or a named one of RFC 822 (UT, GMT, the North
// American zones, military letters and unknown names count as +0000, as RFC 5322 asks). Comments
// and folding white space may stand between the parts. Nothing when the text is not such a
// date or names a day that does not exist.
std::optional<long long> ParseMessageDate(std::string_view text);

// "Mon, 07 Dec 2026 10:00:00 +0000": a moment (seconds since 1970) as a date-time in UTC.
std::string FormatMessageDate(long long seconds);

} // namespace server::message
