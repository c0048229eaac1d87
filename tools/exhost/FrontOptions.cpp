#include "FrontOptions.h"

#include "server/log/ServerLog.h"

#include "platform/store/EventService.h"

#include <CLI/CLI.hpp>

namespace exhost {

double Seconds(std::chrono::milliseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

CLI::Option* AddListenOption(CLI::App& command, std::string& listen) {
    return command
        .add_option("--listen", listen,
                    "IP address and port to listen on (port 0 picks a free one)")
        ->capture_default_str();
}

void AddMaxPerClientOption(CLI::App& command, std::size_t& maxPerClient) {
    command
        .add_option("--max-per-client", maxPerClient,
                    "Sessions one client IP address may hold open at once")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
}

void AddSecondsOption(CLI::App& command, const std::string& name, double& seconds,
                      const std::string& description) {
    command.add_option(name, seconds, description)
        ->check(CLI::Range(0.001, 31536000.0))
        ->capture_default_str();
}

void AddLogOption(CLI::App& command, std::string& log) {
    command
        .add_option("--log", log,
                    "Where the server's log goes: stderr, or syslog (facility mail; journald "
                    "keeps it)")
        ->check(CLI::IsMember({"stderr", "syslog"}))
        ->capture_default_str();
}

void OpenLog(const std::string& log, const std::string& program) {
    namespace serverlog = server::log;
    serverlog::Open(log == "syslog" ? serverlog::Destination::Syslog
                                    : serverlog::Destination::StandardError,
                    program);
    // The store's event log is its own file; that it cannot be written is the server log's news.
    platform::store::SetEventLogFailureReporter(
        [](const std::string& path, const std::string& reason) {
            serverlog::Event(serverlog::Severity::Error, "event-log-failed")
                .Field("path", path)
                .Field("reason", reason);
        });
}

} // namespace exhost
