// exhost imap: the server's IMAP front, in front of the mailboxes of the store. The first line on
// standard output is the port it listens on, for scripts that ask for port 0.

#include "Commands.h"
#include "LogOption.h"
#include "ServerContext.h"
#include "server/imap/ImapServer.h"
#include "server/log/ServerLog.h"
#include "server/login/LoginThrottle.h"
#include "server/mailstore/ImapMailboxBackend.h"
#include "server/net/ListenAddress.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

namespace exhost {

namespace {

namespace asio = boost::asio;
namespace imap = server::imap;
namespace net = server::net;
using server::mailstore::DirectoryLoginCheck;
using server::mailstore::FolderCache;
using server::mailstore::ImapMailboxBackend;

struct ImapOptions {
    std::string root;
    std::string listen = "127.0.0.1:1143";
    std::string log = "stderr";
    int loginTriesPerMinute = server::login::LoginThrottleSettings{}.triesPerMinute;
};

void RunImap(const ImapOptions& options) {
    OpenLog(options.log, "exhost-imap");
    const auto folder = OpenServerFolder(options.root);
    const auto endpoint = net::ParseListenAddress(options.listen, "127.0.0.1:1143 or [::1]:1143");
    net::WarnIfNotLoopback("imap", endpoint.address(),
                           "try passwords and read mail in clear text (this server has no TLS)");
    const auto names = folder.ReadMachineNames();
    imap::ServerSettings settings;
    settings.session.hostName = names.computerName + "." + names.domainDnsName;
    server::login::LoginThrottleSettings throttle;
    throttle.triesPerMinute = options.loginTriesPerMinute;
    settings.session.loginThrottle = std::make_shared<server::login::LoginThrottle>(throttle);
    auto logins = std::make_shared<DirectoryLoginCheck>(folder);
    auto cache = std::make_shared<FolderCache>();

    asio::io_context io;
    imap::Server server(io, endpoint, settings, [&] {
        return std::make_unique<ImapMailboxBackend>(folder, logins, cache);
    });
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (!error) {
            server::log::Event(server::log::Severity::Info, "server-stopping");
            server.Stop();
        }
    });
    server.Start();
    const auto bound = server.LocalEndpoint();
    std::cout << bound.port() << "\n"
              << "listening on " << bound.address().to_string() << ":" << bound.port() << " as "
              << settings.session.hostName << std::endl;
    server::log::Event(server::log::Severity::Info, "server-start")
        .Field("listen", bound.address().to_string() + ":" + std::to_string(bound.port()))
        .Field("host", settings.session.hostName);
    io.run();
    server.Join();
    server::log::Event(server::log::Severity::Info, "server-stopped");
}

} // namespace

void AddImapCommand(CLI::App& app) {
    auto options = std::make_shared<ImapOptions>();
    auto* command = app.add_subcommand("imap", "Serve the mailboxes to mail clients over IMAP");
    AddRootOption(*command, options->root);
    command
        ->add_option("--listen", options->listen,
                     "IP address and port to listen on (port 0 picks a free one)")
        ->capture_default_str();
    command
        ->add_option("--login-tries-per-minute", options->loginTriesPerMinute,
                     "Passwords one client address may have checked a minute once it keeps "
                     "failing (all its connections together)")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    AddLogOption(*command, options->log);
    command->callback([options] { RunImap(*options); });
}

} // namespace exhost
