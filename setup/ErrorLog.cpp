// Writes failure entries on top of the error log, stamped with the local date and time in the
// regional general format.

#include "setup/ErrorLog.h"

#include "platform/core/Error.h"

#include <QLocale>

namespace lorvanta::setup {

namespace {

LocalClock& Clock() {
    static LocalClock clock;
    return clock;
}

// The regional long time has no time zone, while Qt's long time format ends in one: drop the
// unquoted zone letters and the blanks before them.
QString LongTimePattern(const QLocale& locale) {
    const QString pattern = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (result.endsWith(u' '))
                result.chop(1);
            continue;
        }
        result += c;
    }
    return result.trimmed();
}

} // namespace

LocalClock SetLocalClock(LocalClock clock) {
    auto previous = std::move(Clock());
    Clock() = std::move(clock);
    return previous;
}

QDateTime LocalNow() {
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}

std::string GeneralDateTime(const QDateTime& when) {
    const QLocale locale;
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += u' ' + locale.toString(time, LongTimePattern(locale));
    return text.toStdString();
}

void WriteErrorLine(ErrorLog& log, const std::string& subject, std::int32_t number,
                    const std::string& description) {
    log.SetText("[" + GeneralDateTime(LocalNow()) + "] " + subject + " - ERROR: " +
                std::to_string(number) + " " + description + "\r\n\r\n" + log.Text());
}

void WriteErrorLine(ErrorLog& log, const std::string& subject, const platform::Error& error) {
    WriteErrorLine(log, subject, error.Number(), error.Description());
}

} // namespace lorvanta::setup
