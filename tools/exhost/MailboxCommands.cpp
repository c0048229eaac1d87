// exhost mailbox add ALIAS: a new mailbox with its Inbox in the server's domain folder.

#include "Commands.h"
#include "ServerContext.h"
#include "server/mailstore/DefaultFolders.h"

#include "platform/core/Text.h"
#include "platform/store/Store.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

namespace exhost {

void AddMailboxCommands(CLI::App& app) {
    struct Options {
        std::string root;
        std::string alias;
        std::optional<std::string> domain;
    };
    auto options = std::make_shared<Options>();
    auto* group = app.add_subcommand("mailbox", "Manage mailboxes");
    group->require_subcommand(1);
    auto* add = group->add_subcommand(
        "add", "Create a mailbox with its Inbox, Sent, Drafts, Trash, Junk and Archive");
    AddRootOption(*add, options->root);
    add->add_option("ALIAS", options->alias, "The mailbox's alias")->required();
    add->add_option("--domain", options->domain, "Domain folder (default: the server's domain)");
    add->callback([options] {
        RequireName(NameKind::Mailbox, "ALIAS", options->alias);
        if (options->domain)
            RequireName(NameKind::Domain, "--domain", *options->domain);
        const auto folder = OpenServerFolder(options->root);
        const auto domain =
            options->domain ? *options->domain : folder.ReadMachineNames().domainDnsName;
        const auto store = OpenStore(folder);
        for (const auto& existing : store->Mailboxes(domain))
            if (platform::text::EqualsIgnoreCase(existing, options->alias))
                throw UsageError("mailbox \"" + existing + "\" already exists in " + domain);
        const auto url = store->CreateMailbox(domain, options->alias);
        server::mailstore::MakeSpecialFolders(*store, url);
        std::cout << url << "\n";
    });
}

} // namespace exhost
