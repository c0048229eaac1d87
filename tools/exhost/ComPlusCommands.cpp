// exhost complus list|install|remove: the COM+ catalog of the server folder.

#include "Commands.h"
#include "ServerContext.h"

#include "platform/complus/CatalogAdmin.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

namespace exhost {

namespace {

// The password is read from standard input, never from the command line, where every user
// of the machine could see it.
std::string ReadPassword() {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

} // namespace

void AddComPlusCommands(CLI::App& app) {
    auto* group = app.add_subcommand("complus", "The COM+ catalog: applications and components");
    group->require_subcommand(1);

    auto listRoot = std::make_shared<std::string>();
    auto* list =
        group->add_subcommand("list", "List the applications (passwords only as set or not)");
    AddRootOption(*list, *listRoot);
    list->callback([listRoot] {
        const auto folder = OpenServerFolder(*listRoot);
        std::cout << platform::complus::FormatApplications(
            platform::complus::ListApplications(folder));
    });

    struct InstallOptions {
        std::string root;
        std::string name;
        std::string dll;
        std::string identity;
        bool passwordStdin = false;
    };
    auto install = std::make_shared<InstallOptions>();
    auto* installCommand =
        group->add_subcommand("install", "Add an application with a DLL's classes as components");
    AddRootOption(*installCommand, install->root);
    installCommand->add_option("NAME", install->name, "Application name")->required();
    installCommand->add_option("DLL", install->dll, "The in-process server to install")->required();
    installCommand->add_option("--identity", install->identity,
                               "Account the application runs as (DOMAIN\\name)");
    installCommand->add_flag("--password-stdin", install->passwordStdin,
                             "Read the identity's password from the first line of standard input");
    installCommand->callback([install] {
        const auto folder = OpenServerFolder(install->root);
        const auto dll = std::filesystem::absolute(install->dll);
        if (!std::filesystem::is_regular_file(dll))
            throw UsageError("no such file: " + install->dll);
        if (install->passwordStdin && install->identity.empty())
            throw UsageError("--password-stdin needs --identity");
        const auto password = install->passwordStdin ? ReadPassword() : std::string();
        const auto id = platform::complus::InstallApplication(folder, install->name, dll,
                                                              install->identity, password);
        std::cout << "installed " << install->name << " " << id << "\n";
    });

    struct RemoveOptions {
        std::string root;
        std::string nameOrId;
    };
    auto remove = std::make_shared<RemoveOptions>();
    auto* removeCommand = group->add_subcommand(
        "remove", "Remove the applications of a name (or an ID) and their classes");
    AddRootOption(*removeCommand, remove->root);
    removeCommand->add_option("NAME_OR_ID", remove->nameOrId, "Application name or ID")->required();
    removeCommand->callback([remove] {
        const auto folder = OpenServerFolder(remove->root);
        const int removed = platform::complus::RemoveApplications(folder, remove->nameOrId);
        std::cout << "removed " << removed << " application" << (removed == 1 ? "" : "s") << "\n";
    });
}

} // namespace exhost
