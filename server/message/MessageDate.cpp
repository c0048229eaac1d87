// Reads RFC 5322 date-times token by token, skipping comments and folding white space, and
// writes them in UTC.

#include "server/message/MessageDate.h"

#include "platform/core/Text.h"

#include <cstdio>
#include <ctime>

namespace server::message {

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

struct NamedZone {
    const char* name;
    int hours; // east of UTC
};
constexpr NamedZone kNamedZones[] = {{"UT", 0},   {"GMT", 0},  {"EST", -5}, {"EDT", -4},
                                     {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6},
                                     {"PST", -8}, {"PDT", -7}};

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDaysIn[month - 1];
}

int NumberOf(std::string_view digits) {
    int number = 0;
    for (const char c : digits)
        number = number * 10 + (c - '0');
    return number;
}

// The tokens of a date-time, with the comments and folding white space between them skipped.
class DateReader {
public:
    explicit DateReader(std::string_view text) : text_(text) {}

    // Skips white space (line ends of folding included) and comments, which nest and may hold
    // quoted pairs; false when a comment is not closed.
    bool SkipCfws() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++at_;
                continue;
            }
            if (c != '(')
                return true;
            int depth = 0;
            do {
                if (text_[at_] == '\\')
                    ++at_;
                else if (text_[at_] == '(')
                    ++depth;
                else if (text_[at_] == ')')
                    --depth;
                ++at_;
            } while (depth > 0 && at_ < text_.size());
            if (depth > 0)
                return false;
        }
        return true;
    }

    bool AtEnd() const { return at_ >= text_.size(); }

    bool Take(char c) {
        if (AtEnd() || text_[at_] != c)
            return false;
        ++at_;
        return true;
    }

    std::string_view Digits() {
        return Run([](char c) { return c >= '0' && c <= '9'; });
    }

    std::string_view Letters() {
        return Run([](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
    }

private:
    template <typename Predicate> std::string_view Run(Predicate belongs) {
        const auto start = at_;
        while (at_ < text_.size() && belongs(text_[at_]))
            ++at_;
        return text_.substr(start, at_ - start);
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool IsDayName(std::string_view name) {
    for (const auto* day : kDays)
        if (platform::text::EqualsIgnoreCase(name, day))
            return true;
    return false;
}

// Seconds east of UTC of a named zone. Military letters (but "J", which names none) and other
// names count as +0000: RFC 822 gave the letters' signs backwards, and a name not known is
// no better.
std::optional<int> NamedZoneOffset(std::string_view name) {
    if (name.empty() || name.size() > 5 || platform::text::EqualsIgnoreCase(name, "J"))
        return std::nullopt;
    for (const auto& zone : kNamedZones)
        if (platform::text::EqualsIgnoreCase(name, zone.name))
            return zone.hours * 3600;
    return 0;
}

// A four-digit year as it is; a two-digit one in 1950-2049, a three-digit one from 1900 on.
std::optional<int> YearOf(std::string_view digits) {
    const int year = NumberOf(digits);
    switch (digits.size()) {
    case 2:
        return year < 50 ? 2000 + year : 1900 + year;
    case 3:
        return 1900 + year;
    case 4:
        return year;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<int> MonthNumber(std::string_view name) {
    for (int i = 0; i < 12; ++i)
        if (platform::text::EqualsIgnoreCase(name, kMonths[i]))
            return i + 1;
    return std::nullopt;
}

long long DaysSinceEpoch(int year, int month, int day) {
    // Counted in 400-year eras from 1 March of year 0, so that a leap day ends its year.
    const long long y = year - (month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::optional<long long> ParseMessageDate(std::string_view text) {
    DateReader reader(text);
    if (!reader.SkipCfws())
        return std::nullopt;
    if (const auto dayName = reader.Letters(); !dayName.empty()) {
        if (!IsDayName(dayName) || !reader.SkipCfws() || !reader.Take(',') || !reader.SkipCfws())
            return std::nullopt;
    }
    const auto dayDigits = reader.Digits();
    if (dayDigits.empty() || dayDigits.size() > 2 || !reader.SkipCfws())
        return std::nullopt;
    const auto month = MonthNumber(reader.Letters());
    if (!month || !reader.SkipCfws())
        return std::nullopt;
    const auto year = YearOf(reader.Digits());
    const int day = NumberOf(dayDigits);
    if (!year || day < 1 || day > DaysInMonth(*year, *month) || !reader.SkipCfws())
        return std::nullopt;
    int hour = 0, minute = 0, second = 0, zoneOffset = 0;
    if (const auto hourDigits = reader.Digits(); !hourDigits.empty()) {
        if (hourDigits.size() > 2 || !reader.SkipCfws() || !reader.Take(':') || !reader.SkipCfws())
            return std::nullopt;
        const auto minuteDigits = reader.Digits();
        if (minuteDigits.size() != 2 || !reader.SkipCfws())
            return std::nullopt;
        hour = NumberOf(hourDigits);
        minute = NumberOf(minuteDigits);
        if (reader.Take(':')) {
            if (!reader.SkipCfws())
                return std::nullopt;
            const auto secondDigits = reader.Digits();
            if (secondDigits.size() != 2 || !reader.SkipCfws())
                return std::nullopt;
            second = NumberOf(secondDigits);
        }
        // 60 is a leap second.
        if (hour > 23 || minute > 59 || second > 60)
            return std::nullopt;
        const bool east = reader.Take('+');
        if (east || reader.Take('-')) {
            const auto zone = reader.Digits();
            if (zone.size() != 4 || NumberOf(zone.substr(2)) > 59)
                return std::nullopt;
            zoneOffset = (NumberOf(zone.substr(0, 2)) * 3600 + NumberOf(zone.substr(2)) * 60) *
                         (east ? 1 : -1);
        } else if (const auto name = reader.Letters(); !name.empty()) {
            const auto offset = NamedZoneOffset(name);
            if (!offset)
                return std::nullopt;
            zoneOffset = *offset;
        }
        if (!reader.SkipCfws())
            return std::nullopt;
    }
    if (!reader.AtEnd())
        return std::nullopt;
    return DaysSinceEpoch(*year, *month, day) * 86400 + hour * 3600 + minute * 60 + second -
           zoneOffset;
}

std::string FormatMessageDate(long long seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday],
                  utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

} // namespace server::message
