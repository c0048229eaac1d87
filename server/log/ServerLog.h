#pragma once

// The servers' log: one line per event, a name and then key=value fields, e.g.
//
//   2026-12-09T12:00:00.123Z exhost-imap[4711] warning login-failed session=5F3A09C1000000A2
//   client=192.0.2.7 user="alice smith" reason="wrong password"
//
// To standard error (with the time, the program and its pid in front, as above) or to syslog
// (which adds those itself; journald picks it up). Values made only of printable ASCII other
// than blanks, quotes, backslashes and "=" are written bare; others in double quotes with \" and
// \\; control characters and DEL always as \xHH, so nothing logged can start a line of its
// own. Bytes from 0x80 up pass as they are (UTF-8 addresses stay readable).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace server::log {

enum class Severity { Info, Warning, Error };
enum class Destination { StandardError, Syslog };

// Where this process's log goes from now on; `program` names it in every line. Until it is
// called, events go to standard error as "exhost".
void Open(Destination destination, std::string_view program);

// One event, written as one line when it goes out of scope.
//   log::Event(log::Severity::Info, "session-start").Field("session", id).Field("client", a);
class Event {
public:
    Event(Severity severity, std::string_view name);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    Event& Field(std::string_view key, std::string_view value);
    Event& Field(std::string_view key, const char* value) {
        return Field(key, std::string_view(value));
    }
    Event& Field(std::string_view key, const std::string& value) {
        return Field(key, std::string_view(value));
    }
    Event& Field(std::string_view key, std::int64_t value);
    Event& Field(std::string_view key, int value) {
        return Field(key, static_cast<std::int64_t>(value));
    }
    Event& Field(std::string_view key, std::size_t value) {
        return Field(key, static_cast<std::int64_t>(value));
    }

private:
    Severity severity_;
    std::string line_; // the name and fields, without time, program or severity
};

// While alive, every event's line (name and fields, as syslog would get it) is kept here
// instead of written: for tests of what a server logs.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::vector<std::string> Lines() const;
};

// A field's value as it is written into a line.
std::string Quoted(std::string_view value);

} // namespace server::log
