// exhost directory start|stop|status: the server folder's private directory server.

#include "Commands.h"
#include "ServerContext.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

// "status" exits with 3 when the server is stopped, so scripts can test it.
constexpr int kStoppedExitCode = 3;

} // namespace

void AddDirectoryCommands(CLI::App& app) {
    auto root = std::make_shared<std::string>();
    auto* group = app.add_subcommand("directory", "Run the private directory server");
    group->require_subcommand(1);

    auto* start = group->add_subcommand("start", "Start the directory server");
    AddRootOption(*start, *root);
    start->callback([root] {
        auto server = DirectoryServerOf(OpenServerFolder(*root));
        if (const auto pid = server.RunningPid())
            throw UsageError("the directory server is already running (pid " +
                             std::to_string(*pid) + ")");
        server.Start();
        std::cout << "directory server running (pid " << server.RunningPid().value_or(0) << ") at "
                  << server.Uri() << "\n";
    });

    auto* stop = group->add_subcommand("stop", "Stop the directory server");
    AddRootOption(*stop, *root);
    stop->callback([root] {
        auto server = DirectoryServerOf(OpenServerFolder(*root));
        const auto state = server.State();
        server.Stop();
        if (state.pid)
            std::cout << "directory server stopped\n";
        else
            std::cout << "directory server was not running"
                      << (state.why.empty() ? "" : " (" + state.why + ")") << "\n";
    });

    auto* status = group->add_subcommand("status", "Show whether the directory server runs");
    AddRootOption(*status, *root);
    status->callback([root] {
        const auto server = DirectoryServerOf(OpenServerFolder(*root));
        const auto state = server.State();
        if (state.pid) {
            std::cout << "running (pid " << *state.pid << ") at " << server.Uri() << "\n";
            return;
        }
        std::cout << "stopped" << (state.why.empty() ? "" : " (" + state.why + ")") << "\n";
        throw CLI::RuntimeError(kStoppedExitCode);
    });
}

} // namespace exhost
