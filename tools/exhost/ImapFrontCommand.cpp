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
#include "server/mailstore/StoreChangeNotices.h"
#include "server/net/ListenAddress.h"

#include <boost/asio/io_context.hpp>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <malloc.h>
#include <optional>
#include <thread>
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
    std::size_t maxSize = imap::SessionSettings{}.limits.maxLiteral;
    std::size_t maxSessions = imap::ServerSettings{}.maxSessions;
    std::size_t maxPerClient = imap::ServerSettings{}.maxSessionsPerClient;
    double loginTimeout = Seconds(imap::ServerSettings{}.loginTimeout);
    double lookupTimeout = 5;
    // Change notices wake idling clients; the look besides them only covers a lost notice.
    double idlePoll = 60;
    std::string log = "stderr";
    int loginTriesPerMinute = server::login::LoginThrottleSettings{}.triesPerMinute;
};

void RunImap(const ImapOptions& options) {
    OpenLog(options.log, "exhost-imap");
    // Large messages pass through memory as blocks that live for one answer: mapped, and given
    // back when freed, rather than left in the heap (glibc's threshold for mapping a block
    // otherwise climbs to the largest one freed, and a hundred sessions' heaps keep them). The
    // parts of a fetch's answer (up to about 512 KB) and its batches of small messages stay in
    // the heap, which keeps a few megabytes for the next ones: mapped afresh, every page of
    // every part was a page fault, a third of a fetch's time.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
    // A session's step runs on whichever worker thread is free, and glibc gives each thread an
    // arena of its own, up to eight per core: what one arena frees the others cannot reuse, so
    // fifty sessions pipelining large fetches held a fifth more than their answers (two arenas
    // per core: the same fetch and APPEND rates, measured).
    mallopt(M_ARENA_MAX, static_cast<int>(2 * std::max(1u, std::thread::hardware_concurrency())));
    const auto folder = OpenServerFolder(options.root);
    const auto endpoint = net::ParseListenAddress(options.listen, "127.0.0.1:1143 or [::1]:1143");
    const auto names = folder.ReadMachineNames();
    const auto tls = OpenTlsCredentials(folder, names, options.tls);
    const auto tlsEndpoint =
        TlsListenEndpoint(options.tlsListen, "127.0.0.1:1993 or [::]:993", folder, tls);
    if (!tls)
        net::WarnIfNotLoopback("imap", endpoint.address(),
                               "read the greeting only: without a TLS certificate nobody there "
                               "may log in");
    if (options.maxSize == 0)
        throw UsageError("--max-size must be at least 1 octet");
    imap::ServerSettings settings;
    settings.session.limits = imap::LimitsForMessages(options.maxSize);
    settings.tls = tls;
    settings.session.hostName = names.computerName + "." + names.domainDnsName;
    settings.maxSessions = options.maxSessions;
    settings.maxSessionsPerClient = options.maxPerClient;
    settings.loginTimeout = Milliseconds(options.loginTimeout);
    server::login::LoginThrottleSettings throttle;
    throttle.triesPerMinute = options.loginTriesPerMinute;
    settings.session.loginThrottle = std::make_shared<server::login::LoginThrottle>(throttle);
    auto logins =
        std::make_shared<DirectoryLoginCheck>(folder, Milliseconds(options.lookupTimeout));
    auto cache = std::make_shared<FolderCache>();
    settings.changes = std::make_shared<server::mailstore::StoreChangeNotices>(folder.StoreDir());
    settings.idlePoll = Milliseconds(options.idlePoll);

    asio::io_context io;
    ServeFronts<imap::Server>(
        io, endpoint, tlsEndpoint, settings,
        [&] { return std::make_unique<ImapMailboxBackend>(folder, logins, cache); },
        settings.session.hostName, "",
        [&](auto& event) {
            event.Field("max_sessions", settings.maxSessions)
                .Field("max_per_client", settings.maxSessionsPerClient);
        });
}

} // namespace

void AddImapCommand(CLI::App& app) {
    auto options = std::make_shared<ImapOptions>();
    auto* command = app.add_subcommand("imap", "Serve the mailboxes to mail clients over IMAP");
    AddRootOption(*command, options->root);
    AddListenOption(*command, options->listen);
    AddTlsListenOption(*command, options->tlsListen, "IMAPS, port 993 by convention");
    AddTlsOptions(*command, options->tls);
    command
        ->add_option("--max-size", options->maxSize,
                     "Largest message a client may APPEND, in octets")
        ->capture_default_str();
    // Each session has a worker thread and two descriptors (its socket, its store).
    command
        ->add_option("--max-sessions", options->maxSessions,
                     "Sessions the server holds open at once; the next gets BYE")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    AddMaxPerClientOption(*command, options->maxPerClient);
    AddSecondsOption(*command, "--login-timeout", options->loginTimeout,
                     "Seconds a session may take to log in before it is closed with BYE");
    AddSecondsOption(*command, "--lookup-timeout", options->lookupTimeout,
                     "Seconds a login may wait for the directory before it gets NO");
    AddSecondsOption(*command, "--idle-poll", options->idlePoll,
                     "Seconds between looks at an idling client's folder besides the change "
                     "notices, which tell it of new mail at once");
    AddLoginTriesOption(*command, options->loginTriesPerMinute);
    AddLogOption(*command, options->log);
    command->callback([options] { RunImap(*options); });
}

} // namespace exhost
