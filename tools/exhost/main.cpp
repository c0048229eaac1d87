// exhost: the admin tool of the emulated mail server (a server folder with its store, class
// registry and private directory server).

#include "Commands.h"
#include "ServerContext.h"

#include "platform/core/Error.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"exhost: administer an emulated mail server folder"};
    app.require_subcommand(1);
    exhost::AddGlobalRootOption(app);
    exhost::AddInitCommand(app);
    exhost::AddDirectoryCommands(app);
    exhost::AddLdifCommand(app);
    exhost::AddMailboxCommands(app);
    exhost::AddDeliverCommand(app);
    exhost::AddShowCommand(app);
    exhost::AddRegEventCommands(app);
    exhost::AddRegSvrCommand(app);
    exhost::AddComPlusCommands(app);
    exhost::AddSmtpCommand(app);
    exhost::AddLmtpCommand(app);
    exhost::AddImapCommand(app);
    exhost::AddSubmissionCommand(app);
    exhost::AddPasswdCommand(app);
    exhost::AddTlsCommand(app);

    // An unknown command name is reported as such rather than as a missing command.
    if (argc > 1 && argv[1][0] != '-') {
        try {
            app.get_subcommand(argv[1]);
        } catch (const CLI::OptionNotFound&) {
            std::cerr << "exhost: unknown command \"" << argv[1] << "\" (see exhost --help)\n";
            return 1;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    } catch (const exhost::UsageError& error) {
        std::cerr << "exhost: " << error.what() << '\n';
        return 1;
    } catch (const platform::Error& error) {
        std::cerr << "exhost: " << error.Description() << " ("
                  << platform::FailureNumberText(error.Number()) << ")\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "exhost: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
