#pragma once

// The servers' "--log stderr|syslog" option.

#include <string>

namespace CLI {
class App;
}

namespace exhost {

// Adds "--log stderr|syslog" (default stderr) to a server command; the choice lands in `log`.
void AddLogOption(CLI::App& command, std::string& log);

// Sends the process's server log where `log` says, each line naming `program`, and the store's
// event log failures with it.
void OpenLog(const std::string& log, const std::string& program);

} // namespace exhost
