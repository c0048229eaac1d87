// exhost imap: the server's IMAP front, in front of the mailboxes of the store. The first line on
// standard output is the port it listens on, for scripts that ask for port 0.

#include "Commands.h"
#include "FrontOptions.h"
#include "ServerContext.h"
#include "server/imap/ImapServer.h"
#include "server/log/ServerLog.h"
#include "server/login/LoginThrottle.h"
#include "server/mailstore/ImapMailboxBackend.h"
#include "server/net/ListenAddress.h"

#include <boost/asio/io_context.hpp>

#include <CLI/CLI.hpp>

#include <iostream>
#include <malloc.h>

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
};

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
    ServeUntilSignalled(io, server, [&] {
        const auto bound = server.LocalEndpoint();
        std::cout << bound.port() << "\n"
                  << "listening on " << bound.address().to_string() << ":" << bound.port() << " as "
                  << settings.session.hostName << std::endl;
        server::log::Event(server::log::Severity::Info, "server-start")
            .Field("listen", bound.address().to_string() + ":" + std::to_string(bound.port()))
            .Field("host", settings.session.hostName)
            .Field("max_per_client", settings.maxSessionsPerClient);
    });
}

} // namespace

void AddImapCommand(CLI::App& app) {
    auto options = std::make_shared<ImapOptions>();
    auto* command = app.add_subcommand("imap", "Serve the mailboxes to mail clients over IMAP");
    AddRootOption(*command, options->root);
    AddListenOption(*command, options->listen);
    AddMaxPerClientOption(*command, options->maxPerClient);
    AddSecondsOption(*command, "--login-timeout", options->loginTimeout,
                     "Seconds a session may take to log in before it is closed with BYE");
    AddSecondsOption(*command, "--lookup-timeout", options->lookupTimeout,
                     "Seconds a login may wait for the directory before it gets NO");
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
