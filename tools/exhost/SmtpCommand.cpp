// exhost smtp: the server's SMTP front. Accepted messages go into the recipients' mailboxes as
// "exhost deliver" puts them there (MailboxDelivery.h). The first line on standard output is the
// port it listens on, for scripts that ask for port 0.

#include "Commands.h"
#include "MailboxBackend.h"
#include "ServerContext.h"
#include "smtp/SmtpServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <iostream>
#include <tuple>

namespace exhost {

namespace {

namespace asio = boost::asio;

struct SmtpOptions {
    std::string root;
    std::string listen = "127.0.0.1:2525";
    std::size_t maxSize = smtp::Limits{}.maxMessageBytes;
    std::size_t maxPerClient = smtp::ServerSettings{}.maxSessionsPerClient;
    double lookupTimeout = Seconds(smtp::ServerSettings{}.lookupTimeout);
    double commandTimeout = Seconds(smtp::ServerSettings{}.commandTimeout);
    double dataTimeout = Seconds(smtp::ServerSettings{}.dataTimeout);
    double sessionTimeout = Seconds(smtp::ServerSettings{}.sessionTimeout);

    static double Seconds(std::chrono::milliseconds duration) {
        return std::chrono::duration<double>(duration).count();
    }
};

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

asio::ip::tcp::endpoint ParseListenAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    const auto usage = "--listen needs an IP address and a port, such as 127.0.0.1:2525 or "
                       "[::1]:2525, not \"" +
                       text + "\"";
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw UsageError(usage);
    auto host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos || portText.size() > 5 ||
        std::stoul(portText) > 65535)
        throw UsageError(usage);
    boost::system::error_code error;
    const auto address = asio::ip::make_address(host, error);
    if (error)
        throw UsageError(usage);
    return {address, static_cast<unsigned short>(std::stoul(portText))};
}

void RunSmtp(const SmtpOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    if (options.maxSize == 0)
        throw UsageError("--max-size must be at least 1 octet");
    const auto endpoint = ParseListenAddress(options.listen);
    if (!endpoint.address().is_loopback())
        std::cerr << "exhost smtp: warning: " << endpoint.address().to_string()
                  << " is not a loopback address; anyone who can reach it can deliver mail "
                     "into this server's mailboxes\n";

    const MailboxDelivery delivery(folder);
    smtp::ServerSettings settings;
    const auto& names = delivery.Names();
    settings.hostName = names.computerName + "." + names.domainDnsName;
    settings.limits.maxMessageBytes = options.maxSize;
    settings.maxSessionsPerClient = options.maxPerClient;
    settings.lookupTimeout = Milliseconds(options.lookupTimeout);
    settings.commandTimeout = Milliseconds(options.commandTimeout);
    settings.dataTimeout = Milliseconds(options.dataTimeout);
    settings.sessionTimeout = Milliseconds(options.sessionTimeout);

    asio::io_context io;
    smtp::Server server(io, endpoint, settings,
                        [&] { return std::make_unique<MailboxBackend>(delivery); });
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (!error) {
            std::cerr << "exhost smtp: stopping\n";
            server.Stop();
        }
    });
    server.Start();
    const auto bound = server.LocalEndpoint();
    std::cout << bound.port() << "\n"
              << "listening on " << bound.address().to_string() << ":" << bound.port() << " as "
              << settings.hostName << ", messages up to " << options.maxSize << " octets"
              << std::endl;
    io.run();
    server.Join();
    std::cerr << "exhost smtp: stopped\n";
}

} // namespace

void AddSmtpCommand(CLI::App& app) {
    auto options = std::make_shared<SmtpOptions>();
    auto* command =
        app.add_subcommand("smtp", "Accept mail over SMTP and deliver it into the mailboxes");
    AddRootOption(*command, options->root);
    command
        ->add_option("--listen", options->listen,
                     "IP address and port to listen on (port 0 picks a free one)")
        ->capture_default_str();
    command->add_option("--max-size", options->maxSize, "Largest message accepted, in octets")
        ->capture_default_str();
    command
        ->add_option("--max-per-client", options->maxPerClient,
                     "Sessions one client IP address may hold open at once")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    for (const auto& [name, seconds, text] :
         {std::tuple{"--lookup-timeout", &options->lookupTimeout,
                     "Seconds a recipient lookup may take before RCPT gets 451 4.4.3"},
          std::tuple{"--command-timeout", &options->commandTimeout,
                     "Seconds a whole command line may take to arrive after the previous reply"},
          std::tuple{"--data-timeout", &options->dataTimeout,
                     "Seconds a whole message may take to arrive after the 354 reply"},
          std::tuple{"--session-timeout", &options->sessionTimeout,
                     "Seconds a session may last before it is closed with 421"}}) {
        // From a millisecond to a year: a deadline of 0 would end every session at once.
        command->add_option(name, *seconds, text)
            ->check(CLI::Range(0.001, 31536000.0))
            ->capture_default_str();
    }
    command->callback([options] { RunSmtp(*options); });
}

} // namespace exhost
