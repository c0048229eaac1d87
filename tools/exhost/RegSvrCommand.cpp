// exhost regsvr [-u] DLL: runs an in-process server's own (un)registration of its classes.

#include "Commands.h"
#include "ServerContext.h"

#include "platform/com/Activation.h"
#include "platform/host/PrivateFiles.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

void AddRegSvrCommand(CLI::App& app) {
    struct Options {
        std::string root;
        std::string dll;
        bool unregister = false;
    };
    auto options = std::make_shared<Options>();
    auto* command = app.add_subcommand("regsvr", "Register (or with -u unregister) a COM server");
    AddRootOption(*command, options->root);
    command->add_flag("-u,--unregister", options->unregister, "Unregister instead");
    command->add_option("DLL", options->dll, "The server's file")->required();
    command->callback([options] {
        const auto folder = OpenServerFolder(options->root);
        std::error_code error;
        const auto dll = std::filesystem::absolute(options->dll);
        if (!std::filesystem::is_regular_file(dll, error))
            throw UsageError("no such file: " + options->dll);
        platform::host::CreatePrivateFolder(folder.ComDir());
        if (options->unregister) {
            platform::com::UnregisterServer(dll);
            std::cout << "unregistered " << dll.string() << "\n";
        } else {
            platform::com::RegisterServer(dll);
            std::cout << "registered " << dll.string() << "\n";
        }
    });
}

} // namespace exhost
