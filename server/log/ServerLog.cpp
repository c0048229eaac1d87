#include "server/log/ServerLog.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

namespace server::log {

namespace {

struct State {
    std::mutex mutex;
    Destination destination = Destination::StandardError;
    std::string program = "exhost";
    std::optional<std::vector<std::string>> captured;
};

State& Log() {
    static State state;
    return state;
}

const char* Name(Severity severity) {
    switch (severity) {
    case Severity::Info:
        return "info";
    case Severity::Warning:
        return "warning";
    case Severity::Error:
        return "error";
    }
    return "info";
}

int Priority(Severity severity) {
    switch (severity) {
    case Severity::Info:
        return LOG_INFO;
    case Severity::Warning:
        return LOG_WARNING;
    case Severity::Error:
        return LOG_ERR;
    }
    return LOG_INFO;
}

std::string UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const auto seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64]; // room for any int the fields could hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// All of it, or as much as standard error takes: a log line that cannot be written has nowhere
// else to go.
void WriteAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

bool Bare(std::string_view value) {
    if (value.empty())
        return false;
    for (const unsigned char c : value)
        if (c <= ' ' || c == '"' || c == '\\' || c == '=' || c == 0x7f)
            return false;
    return true;
}

} // namespace

void Open(Destination destination, std::string_view program) {
    auto& state = Log();
    std::lock_guard lock(state.mutex);
    state.destination = destination;
    state.program = program;
    if (destination == Destination::Syslog)
        // openlog keeps the pointer: the string lives as long as the process's state.
        openlog(state.program.c_str(), LOG_PID | LOG_NDELAY, LOG_MAIL);
}

std::string Quoted(std::string_view value) {
    if (Bare(value))
        return std::string(value);
    std::string quoted = "\"";
    for (const unsigned char c : value) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < ' ' || c == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

Event::Event(Severity severity, std::string_view name) : severity_(severity), line_(Quoted(name)) {
}

Event& Event::Field(std::string_view key, std::string_view value) {
    line_ += ' ';
    line_ += key;
    line_ += '=';
    line_ += Quoted(value);
    return *this;
}

Event& Event::Field(std::string_view key, std::int64_t value) {
    return Field(key, std::string_view(std::to_string(value)));
}

Event::~Event() {
    auto& state = Log();
    std::lock_guard lock(state.mutex);
    if (state.captured) {
        state.captured->push_back(line_);
        return;
    }
    if (state.destination == Destination::Syslog) {
        syslog(Priority(severity_), "%s", line_.c_str());
        return;
    }
    WriteAll(UtcNow() + " " + state.program + "[" + std::to_string(::getpid()) + "] " +
             Name(severity_) + " " + line_ + "\n");
}

Capture::Capture() {
    auto& state = Log();
    std::lock_guard lock(state.mutex);
    state.captured.emplace();
}

Capture::~Capture() {
    auto& state = Log();
    std::lock_guard lock(state.mutex);
    state.captured.reset();
}

std::vector<std::string> Capture::Lines() const {
    auto& state = Log();
    std::lock_guard lock(state.mutex);
    return state.captured ? *state.captured : std::vector<std::string>{};
}

} // namespace server::log
