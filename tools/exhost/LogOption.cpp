#include "LogOption.h"

#include "server/log/ServerLog.h"

#include "platform/store/EventService.h"

#include <CLI/CLI.hpp>

namespace exhost {

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
