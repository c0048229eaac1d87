// exhost deliver --rcpt ADDRESS [--from SENDER] FILE...: the mail transport's last step
// (MailboxDelivery.h), for message files. Each message is stored for all its recipients or for
// none.

#include "Commands.h"
#include "ServerContext.h"
#include "server/delivery/MailboxDelivery.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

using server::delivery::Arrival;
using server::delivery::MailboxDelivery;

struct DeliverOptions {
    std::string root;
    std::vector<std::string> recipients;
    std::string sender; // the envelope sender; empty for "<>"
    std::vector<std::string> files;
};

struct Message {
    std::string file;
    std::string text;
};

void RunDeliver(const DeliverOptions& options) {
    const auto folder = OpenServerFolder(options.root);

    // Every file is read first, so that an unreadable one delivers nothing at all.
    std::vector<Message> messages;
    for (const auto& file : options.files)
        messages.push_back({file, ReadWholeFile(file)});

    if (!DirectoryServerOf(folder).RunningPid())
        throw UsageError("the directory server is not running (exhost directory start)");
    const MailboxDelivery delivery(folder);
    std::vector<MailboxDelivery::Recipient> recipients;
    for (const auto& address : options.recipients)
        recipients.push_back({address, delivery.ResolveRecipient(address)});
    const Arrival arrival{options.sender, "local", ""};
    for (const auto& message : messages)
        for (const auto& url : delivery.Deliver(recipients, message.text, arrival))
            std::cout << url << "\n";
}

} // namespace

void AddDeliverCommand(CLI::App& app) {
    auto options = std::make_shared<DeliverOptions>();
    auto* command = app.add_subcommand("deliver", "Deliver RFC 5322 messages to recipients");
    AddRootOption(*command, options->root);
    command->add_option("--rcpt", options->recipients, "Recipient address (repeatable)")
        ->required()
        ->allow_extra_args(false); // one address per --rcpt; the rest are files
    command->add_option("--from", options->sender,
                        "Envelope sender for Return-Path (default: none, written \"<>\")");
    command->add_option("FILE", options->files, "Message files")->required();
    command->callback([options] { RunDeliver(*options); });
}

} // namespace exhost
