// exhost deliver --rcpt ADDRESS FILE...: the mail transport's last step. Each recipient
// address is resolved to its mailbox through the directory, and each message is saved into
// that mailbox's Inbox as a delivered message, so the event service runs the registered sinks.

#include "Commands.h"
#include "RecipientLookup.h"
#include "ServerContext.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/Delivery.h"
#include "platform/store/Store.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

struct DeliverOptions {
    std::string root;
    std::vector<std::string> recipients;
    std::vector<std::string> files;
};

struct Message {
    std::string file;
    std::string text;
};

void RunDeliver(const DeliverOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    const auto names = folder.ReadMachineNames();

    // Every file is read and checked first, so that bad input delivers nothing at all.
    std::vector<Message> messages;
    for (const auto& file : options.files) {
        Message message{file, ReadWholeFile(file)};
        try {
            platform::store::ParseMessage(message.text);
        } catch (const platform::Error& error) {
            throw UsageError("malformed message " + file + ": " + error.Description());
        }
        messages.push_back(std::move(message));
    }

    if (!DirectoryServerOf(folder).RunningPid())
        throw UsageError("the directory server is not running (exhost directory start)");
    const auto forest = names.forestDnsName.empty() ? names.domainDnsName : names.forestDnsName;
    std::vector<std::string> aliases;
    for (const auto& address : options.recipients)
        aliases.push_back(FindMailboxAlias(forest, address));

    const auto store = OpenStore(folder);
    for (const auto& alias : aliases) {
        bool known = false;
        for (const auto& mailbox : store->Mailboxes(names.domainDnsName))
            known = known || platform::text::EqualsIgnoreCase(mailbox, alias);
        if (!known)
            throw UsageError("mailbox " + alias + " is not on this server (domain folder " +
                             names.domainDnsName + ")");
    }
    for (const auto& alias : aliases)
        for (const auto& message : messages)
            std::cout << platform::store::DeliverMessage(*store, names.domainDnsName, alias,
                                                         message.text)
                      << "\n";
}

} // namespace

void AddDeliverCommand(CLI::App& app) {
    auto options = std::make_shared<DeliverOptions>();
    auto* command = app.add_subcommand("deliver", "Deliver RFC 5322 messages to recipients");
    AddRootOption(*command, options->root);
    command->add_option("--rcpt", options->recipients, "Recipient address (repeatable)")
        ->required()
        ->allow_extra_args(false); // one address per --rcpt; the rest are files
    command->add_option("FILE", options->files, "Message files")->required();
    command->callback([options] { RunDeliver(*options); });
}

} // namespace exhost
