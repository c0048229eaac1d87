#pragma once

// The error log of the setup program: one text, newest entry first, each entry followed by an
// empty line. The module operations write their failures into it through this interface; the
// main window adapts its log box to it.

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <string>

namespace platform {
class Error;
}

namespace lorvanta::setup {

class ErrorLog {
public:
    virtual ~ErrorLog() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
};

// An error log that is just a text, for callers without a window.
class TextErrorLog final : public ErrorLog {
public:
    std::string Text() const override { return text_; }
    void SetText(const std::string& text) override { text_ = text; }

private:
    std::string text_;
};

// The local clock the log entries are stamped with; tests pin it. Returns the clock it replaces.
using LocalClock = std::function<QDateTime()>;
LocalClock SetLocalClock(LocalClock clock);
QDateTime LocalNow();

// A date and time as the regional settings' general format gives it: the short date and the
// long time separated by one blank, the date alone at exactly midnight. The locale is the
// process's default QLocale.
std::string GeneralDateTime(const QDateTime& when);

// Puts "[date time] subject - ERROR: number description" and two line breaks in front of the log.
void WriteErrorLine(ErrorLog& log, const std::string& subject, std::int32_t number,
                    const std::string& description);
void WriteErrorLine(ErrorLog& log, const std::string& subject, const platform::Error& error);

} // namespace lorvanta::setup
