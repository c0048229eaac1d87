#pragma once

// The command groups of exhost. Each group adds its subcommands to the application; a new
// group (such as the COM+ catalog's "complus") gets its own source file and one line in main.cpp.

namespace CLI {
class App;
}

namespace exhost {

void AddInitCommand(CLI::App& app);
void AddDirectoryCommands(CLI::App& app);
void AddLdifCommand(CLI::App& app);
void AddMailboxCommands(CLI::App& app);
void AddDeliverCommand(CLI::App& app);
void AddShowCommand(CLI::App& app);
void AddRegEventCommands(CLI::App& app);
void AddRegSvrCommand(CLI::App& app);
void AddComPlusCommands(CLI::App& app);
void AddSmtpCommand(CLI::App& app);
void AddLmtpCommand(CLI::App& app);
void AddImapCommand(CLI::App& app);
void AddSubmissionCommand(CLI::App& app);
void AddPasswdCommand(CLI::App& app);
void AddTlsCommand(CLI::App& app);

} // namespace exhost
