// exhost ldif FILE: adds directory entries to the running directory server.

#include "Commands.h"
#include "ServerContext.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

void AddLdifCommand(CLI::App& app) {
    struct Options {
        std::string root;
        std::string file;
    };
    auto options = std::make_shared<Options>();
    auto* command = app.add_subcommand("ldif", "Add LDIF entries to the running directory");
    AddRootOption(*command, options->root);
    command->add_option("FILE", options->file, "LDIF file")->required();
    command->callback([options] {
        auto server = DirectoryServerOf(OpenServerFolder(options->root));
        ReadWholeFile(options->file); // names the file clearly when it cannot be read
        if (!server.RunningPid())
            throw UsageError("the directory server is not running (exhost directory start)");
        server.Add(std::filesystem::absolute(options->file));
        std::cout << "added the entries of " << options->file << "\n";
    });
}

} // namespace exhost
