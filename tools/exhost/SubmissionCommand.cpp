// exhost submission: the server's message submission front (RFC 6409) for the owner's mail
// client. Clients log in with the IMAP front's user names and passwords; mail for mailboxes here
// is delivered as "exhost smtp" delivers it, mail for anywhere else goes to machine.conf's
// relay_host (or is refused without one). STARTTLS is offered, and --tls-listen adds a port with
// implicit TLS (465 by convention). The first line on standard output is the port; with
// --tls-listen, the second is the implicit TLS port.

#include "Commands.h"
#include "FrontOptions.h"
#include "ServerContext.h"
#include "SmtpSessionOptions.h"
#include "server/delivery/MailboxDelivery.h"
#include "server/log/ServerLog.h"
#include "server/login/LoginThrottle.h"
#include "server/mailstore/ImapMailboxBackend.h"
#include "server/net/ListenAddress.h"
#include "server/smtp/SmtpServer.h"
#include "server/submission/SubmissionBackend.h"

#include <boost/asio/io_context.hpp>

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <vector>

namespace exhost {

namespace {

namespace asio = boost::asio;
namespace smtp = server::smtp;
using server::submission::SubmissionBackend;

struct SubmissionOptions {
    std::string root;
    std::string listen = "127.0.0.1:1587";
    std::string tlsListen;
    TlsOptions tls;
    SmtpSessionOptions session;
    double relayTimeout = Seconds(server::submission::SubmissionSettings{}.relayTimeout);
    int loginTriesPerMinute = server::login::LoginThrottleSettings{}.triesPerMinute;
    std::string log = "stderr";
};

void RunSubmission(const SubmissionOptions& options) {
    OpenLog(options.log, "exhost-submission");
    const auto folder = OpenServerFolder(options.root);
    smtp::ServerSettings settings;
    ApplySmtpSessionOptions(options.session, settings);
    const auto endpoint =
        server::net::ParseListenAddress(options.listen, "127.0.0.1:1587 or [::1]:1587");
    const auto tls = OpenTlsCredentials(folder, folder.ReadMachineNames(), options.tls);
    const auto tlsEndpoint =
        TlsListenEndpoint(options.tlsListen, "127.0.0.1:1465 or [::]:465", folder, tls);
    if (!tls)
        server::net::WarnIfNotLoopback(
            "submission", endpoint.address(),
            "only be refused a login: without a TLS certificate nobody there may log in");

    // Recipients are remembered for the usual 30 s, as "exhost smtp" does by default.
    const server::delivery::MailboxDelivery delivery(folder, std::chrono::seconds(30));
    const auto& names = delivery.Names();
    settings.submission = true;
    settings.hostName = names.computerName + "." + names.domainDnsName;
    settings.tls = tls;

    server::submission::SubmissionSettings submission;
    submission.logins = std::make_shared<server::mailstore::DirectoryLoginCheck>(
        folder, Milliseconds(options.session.lookupTimeout));
    server::login::LoginThrottleSettings throttle;
    throttle.triesPerMinute = options.loginTriesPerMinute;
    submission.throttle = std::make_shared<server::login::LoginThrottle>(throttle);
    submission.relayHost = names.relayHost;
    submission.relayTimeout = Milliseconds(options.relayTimeout);
    submission.hostName = settings.hostName;

    asio::io_context io;
    ServeFronts<smtp::Server>(
        io, endpoint, tlsEndpoint, settings,
        [&] { return std::make_unique<SubmissionBackend>(delivery, submission); },
        settings.hostName,
        ", relaying " + (names.relayHost.empty() ? "nowhere" : "to " + names.relayHost),
        [&](auto& event) {
            event.Field("relay", names.relayHost).Field("max_size", options.session.maxSize);
        });
}

} // namespace

void AddSubmissionCommand(CLI::App& app) {
    auto options = std::make_shared<SubmissionOptions>();
    auto* command = app.add_subcommand(
        "submission", "Accept mail from the users' mail clients after a login (SMTP AUTH)");
    AddRootOption(*command, options->root);
    AddListenOption(*command, options->listen);
    AddTlsListenOption(*command, options->tlsListen, "port 465 by convention");
    AddTlsOptions(*command, options->tls);
    AddSmtpSessionOptions(*command, options->session,
                          "Seconds a recipient lookup or a login may wait for the directory");
    AddSecondsOption(*command, "--relay-timeout", options->relayTimeout,
                     "Seconds each step with the relay host may take before the client gets 451");
    AddLoginTriesOption(*command, options->loginTriesPerMinute);
    AddLogOption(*command, options->log);
    command->callback([options] { RunSubmission(*options); });
}

} // namespace exhost
