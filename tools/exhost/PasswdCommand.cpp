// exhost passwd ALIAS: sets the password of a mailbox user, read from the first line of standard
// input (never from the command line). The directory server stores it as a salted hash.

#include "Commands.h"
#include "ServerContext.h"
#include "server/login/DirectoryLogin.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

using server::login::DirectoryLogin;

struct PasswdOptions {
    std::string root;
    std::string alias;
};

void RunPasswd(const PasswdOptions& options) {
    RequireName(NameKind::Mailbox, "ALIAS", options.alias);
    const auto folder = OpenServerFolder(options.root);
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        throw UsageError("no password on standard input (its first line is the password)");
    const DirectoryLogin login(folder);
    const auto user = login.FindByAlias(options.alias);
    if (!user)
        throw UsageError("no mailbox user of this server has the alias " + options.alias);
    login.SetPassword(user->dn, password);
    std::cout << "Password set for " << user->dn << "\n";
}

} // namespace

void AddPasswdCommand(CLI::App& app) {
    auto options = std::make_shared<PasswdOptions>();
    auto* command = app.add_subcommand(
        "passwd", "Set a mailbox user's password (for IMAP), read from standard input");
    AddRootOption(*command, options->root);
    command->add_option("ALIAS", options->alias, "The mailbox alias")->required();
    command->callback([options] { RunPasswd(*options); });
}

} // namespace exhost
