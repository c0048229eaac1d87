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

#include <chrono>
#include <csignal>
#include <iostream>
#include <malloc.h>
#include <tuple>

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
    std::size_t maxPerClient = imap::ServerSettings{}.maxSessionsPerClient;
    double loginTimeout = Seconds(imap::ServerSettings{}.loginTimeout);
    double lookupTimeout = 5;
    std::string log = "stderr";
    int loginTriesPerMinute = server::login::LoginThrottleSettings{}.triesPerMinute;

    static double Seconds(std::chrono::milliseconds duration) {
        return std::chrono::duration<double>(duration).count();
    }
};

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

void RunImap(const ImapOptions& options) {
    OpenLog(options.log, "exhost-imap");
    // Messages pass through memory as large blocks that live for one answer: mapped, and given
    // back when freed, rather than left in the heap (glibc's threshold for mapping a block
    // otherwise climbs to the largest one freed, and a hundred sessions' heaps keep them).
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const auto folder = OpenServerFolder(options.root);
    const auto endpoint = net::ParseListenAddress(options.listen, "127.0.0.1:1143 or [::1]:1143");
    net::WarnIfNotLoopback("imap", endpoint.address(),
                           "try passwords and read mail in clear text (this server has no TLS)");
    const auto names = folder.ReadMachineNames();
    imap::ServerSettings settings;
    settings.session.hostName = names.computerName + "." + names.domainDnsName;
    settings.maxSessionsPerClient = options.maxPerClient;
    settings.loginTimeout = Milliseconds(options.loginTimeout);
    server::login::LoginThrottleSettings throttle;
    throttle.triesPerMinute = options.loginTriesPerMinute;
    settings.session.loginThrottle = std::make_shared<server::login::LoginThrottle>(throttle);
    auto logins =
        std::make_shared<DirectoryLoginCheck>(folder, Milliseconds(options.lookupTimeout));
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
        .Field("host", settings.session.hostName)
        .Field("max_per_client", settings.maxSessionsPerClient);
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
        ->add_option("--max-per-client", options->maxPerClient,
                     "Sessions one client IP address may hold open at once")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    for (const auto& [name, seconds, text] :
         {std::tuple{"--login-timeout", &options->loginTimeout,
                     "Seconds a session may take to log in before it is closed with BYE"},
          std::tuple{"--lookup-timeout", &options->lookupTimeout,
                     "Seconds a login may wait for the directory before it gets NO"}}) {
        // From a millisecond to a year: a limit of 0 would end every session at once.
        command->add_option(name, *seconds, text)
            ->check(CLI::Range(0.001, 31536000.0))
            ->capture_default_str();
    }
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
