// exhost smtp and exhost lmtp: the server's SMTP front, and its LMTP front for an MTA in front
// of it, on the same server code. Accepted messages go into the recipients' mailboxes as
// "exhost deliver" puts them there (MailboxDelivery.h). The first line on standard output is the
// port it listens on (for scripts that ask for port 0), or the unix socket's path.

#include "Commands.h"
#include "FrontOptions.h"
#include "ServerContext.h"
#include "SmtpSessionOptions.h"
#include "server/delivery/SmtpDeliveryBackend.h"
#include "server/log/ServerLog.h"
#include "server/net/ListenAddress.h"
#include "server/net/UnixSocket.h"
#include "server/smtp/SmtpServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <vector>

namespace exhost {

namespace {

namespace asio = boost::asio;
namespace net = server::net;
namespace smtp = server::smtp;
using server::delivery::MailboxDelivery;
using server::delivery::SmtpDeliveryBackend;

struct SmtpOptions {
    smtp::Protocol protocol = smtp::Protocol::Smtp;
    std::string name = "smtp";
    std::string root;
    std::string listen = "127.0.0.1:2525";
    std::string socket; // LMTP: a unix socket instead of --listen
    std::string socketGroup;
    SmtpSessionOptions session;
    std::size_t maxRefusedRecipients = smtp::Limits{}.maxRefusedRecipients;
    double rememberRecipients = 30;
    std::string log = "stderr";
    TlsOptions tls;
};

void RunSmtp(const SmtpOptions& options) {
    OpenLog(options.log, "exhost-" + options.name);
    const auto folder = OpenServerFolder(options.root);
    smtp::ServerSettings settings;
    ApplySmtpSessionOptions(options.session, settings);
    asio::generic::stream_protocol::endpoint endpoint;
    // A bad socket path or an unknown group fails before anything starts.
    std::optional<net::UnixSocketFile> socketFile;
    if (!options.socket.empty()) {
        socketFile.emplace(options.socket, options.socketGroup);
        endpoint = asio::local::stream_protocol::endpoint(socketFile->BindPath());
    } else {
        const auto port = options.protocol == smtp::Protocol::Lmtp ? "2424" : "2525";
        const auto internet = net::ParseListenAddress(
            options.listen, std::string("127.0.0.1:") + port + " or [::1]:" + port);
        net::WarnIfNotLoopback(options.name, internet.address(),
                               "deliver mail into this server's mailboxes");
        endpoint = internet;
    }

    const MailboxDelivery delivery(folder, Milliseconds(options.rememberRecipients));
    settings.protocol = options.protocol;
    const auto& names = delivery.Names();
    settings.hostName = names.computerName + "." + names.domainDnsName;
    settings.limits.maxRefusedRecipients = options.maxRefusedRecipients;
    // STARTTLS protects what crosses a network; a unix socket's peer is on this machine.
    if (options.socket.empty())
        settings.tls = OpenTlsCredentials(folder, folder.ReadMachineNames(), options.tls);

    asio::io_context io;
    smtp::Server server(io, endpoint, settings,
                        [&] { return std::make_unique<SmtpDeliveryBackend>(delivery); });
    if (socketFile)
        socketFile->MoveIntoPlace();
    ServeUntilSignalled(io, std::vector{&server}, settings.tls.get(), [&] {
        const auto bound = server.LocalEndpoint();
        if (options.socket.empty())
            std::cout << bound.port() << "\n"
                      << "listening on " << bound.address().to_string() << ":" << bound.port();
        else
            std::cout << options.socket << "\n"
                      << "listening on " << options.socket
                      << (options.socketGroup.empty()
                              ? " (owner only)"
                              : " (owner and group " + options.socketGroup + ")");
        std::cout << " (" << TlsMode(settings.tls != nullptr, false) << ") as " << settings.hostName
                  << ", messages up to " << options.session.maxSize << " octets" << std::endl;
        server::log::Event(server::log::Severity::Info, "server-start")
            .Field("listen", options.socket.empty()
                                 ? bound.address().to_string() + ":" + std::to_string(bound.port())
                                 : options.socket)
            .Field("tls", TlsMode(settings.tls != nullptr, false))
            .Field("host", settings.hostName)
            .Field("max_size", options.session.maxSize);
    });
    if (!options.socket.empty()) {
        std::error_code ignored;
        std::filesystem::remove(options.socket, ignored);
    }
}

// The options both fronts share.
CLI::App* AddFrontCommand(CLI::App& app, const std::shared_ptr<SmtpOptions>& options,
                          const std::string& description) {
    auto* command = app.add_subcommand(options->name, description);
    AddRootOption(*command, options->root);
    AddSmtpSessionOptions(*command, options->session,
                          "Seconds a recipient lookup may take before RCPT gets 451 4.4.3");
    command
        ->add_option("--max-refused-recipients", options->maxRefusedRecipients,
                     "Recipients refused in one session (no such mailbox) before it is closed "
                     "with 421 (0: no limit)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    command
        ->add_option("--remember-recipients", options->rememberRecipients,
                     "Seconds a recipient found in the directory is taken as found without "
                     "asking again (0: ask for every RCPT)")
        ->check(CLI::Range(0.0, 86400.0))
        ->capture_default_str();
    AddTlsOptions(*command, options->tls);
    AddLogOption(*command, options->log);
    command->callback([options] { RunSmtp(*options); });
    return command;
}

} // namespace

void AddSmtpCommand(CLI::App& app) {
    auto options = std::make_shared<SmtpOptions>();
    auto* command =
        AddFrontCommand(app, options, "Accept mail over SMTP and deliver it into the mailboxes");
    AddListenOption(*command, options->listen);
}

void AddLmtpCommand(CLI::App& app) {
    auto options = std::make_shared<SmtpOptions>();
    options->protocol = smtp::Protocol::Lmtp;
    options->name = "lmtp";
    options->listen = "127.0.0.1:2424";
    // The MTA in front is one client that opens many sessions.
    options->session.maxPerClient = smtp::ServerSettings{}.maxSessions;
    // Its recipients are what the MTA accepted from many senders, not one client's probes: a
    // limit would defer mail for the rest of a list with a few stale addresses.
    options->maxRefusedRecipients = 0;
    auto* command = AddFrontCommand(
        app, options, "Accept mail over LMTP from an MTA and deliver it into the mailboxes");
    auto* listen = AddListenOption(*command, options->listen);
    auto* socket = command
                       ->add_option("--socket", options->socket,
                                    "Unix socket to listen on instead (created 0600)")
                       ->excludes(listen);
    command
        ->add_option("--socket-group", options->socketGroup,
                     "Group that may connect to the socket too (the socket becomes 0660)")
        ->needs(socket);
}

} // namespace exhost
