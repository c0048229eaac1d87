// exhost imap: the server's IMAP front, in front of the mailboxes of the store, with STARTTLS
// and, on --tls-listen, implicit TLS. The first line on standard output is the port it listens
// on (for scripts that ask for port 0); with --tls-listen, the second line is that port.

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
#include <optional>
#include <vector>

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
    std::string tlsListen; // implicit TLS as well (IMAPS)
    TlsOptions tls;
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
    std::optional<asio::ip::tcp::endpoint> tlsEndpoint;
    if (!options.tlsListen.empty())
        tlsEndpoint = net::ParseListenAddress(options.tlsListen, "127.0.0.1:1993 or [::]:993");
    const auto names = folder.ReadMachineNames();
    const auto tls = OpenTlsCredentials(folder, names, options.tls);
    if (tlsEndpoint && !tls)
        throw UsageError("--tls-listen needs a certificate: none is named and " +
                         folder.TlsDir().string() + " holds none (\"exhost tls --new\" makes one)");
    if (!tls)
        net::WarnIfNotLoopback("imap", endpoint.address(),
                               "read the greeting only: without a TLS certificate nobody there "
                               "may log in");
    imap::ServerSettings settings;
    settings.tls = tls;
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
    const auto backends = [&] {
        return std::make_unique<ImapMailboxBackend>(folder, logins, cache);
    };
    std::vector<std::unique_ptr<imap::Server>> servers;
    servers.push_back(std::make_unique<imap::Server>(io, endpoint, settings, backends));
    if (tlsEndpoint) {
        auto implicit = settings;
        implicit.implicitTls = true;
        servers.push_back(std::make_unique<imap::Server>(io, *tlsEndpoint, implicit, backends));
    }
    std::vector<imap::Server*> fronts;
    for (auto& front : servers)
        fronts.push_back(front.get());
    ServeUntilSignalled(io, fronts, tls.get(), [&] {
        for (const auto* front : fronts)
            std::cout << front->LocalEndpoint().port() << "\n";
        for (const auto* front : fronts) {
            const auto bound = front->LocalEndpoint();
            const auto where = bound.address().to_string() + ":" + std::to_string(bound.port());
            const char* how = !tls                            ? "plain text only"
                              : front->Settings().implicitTls ? "implicit TLS"
                                                              : "STARTTLS";
            std::cout << "listening on " << where << " (" << how << ") as "
                      << settings.session.hostName << "\n";
            server::log::Event(server::log::Severity::Info, "server-start")
                .Field("listen", where)
                .Field("tls", how)
                .Field("host", settings.session.hostName)
                .Field("max_per_client", settings.maxSessionsPerClient);
        }
        std::cout << std::flush;
    });
}

} // namespace

void AddImapCommand(CLI::App& app) {
    auto options = std::make_shared<ImapOptions>();
    auto* command = app.add_subcommand("imap", "Serve the mailboxes to mail clients over IMAP");
    AddRootOption(*command, options->root);
    AddListenOption(*command, options->listen);
    command->add_option("--tls-listen", options->tlsListen,
                        "IP address and port to listen on with implicit TLS as well (IMAPS, "
                        "port 993 by convention)");
    AddTlsOptions(*command, options->tls);
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
