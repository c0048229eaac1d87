#pragma once

// What the server commands (smtp, lmtp, imap, submission) share: their common options, their
// TLS files, their log, and the run of their servers until a signal stops them.

#include "server/log/ServerLog.h"
#include "server/net/TlsContext.h"

#include "platform/host/ServerFolder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace exhost {

// Seconds as the command line gives them, and the milliseconds the servers' settings hold.
double Seconds(std::chrono::milliseconds duration);
std::chrono::milliseconds Milliseconds(double seconds);

// "--listen ADDRESS:PORT", shown with its default.
CLI::Option* AddListenOption(CLI::App& command, std::string& listen);

// "--max-per-client N": the sessions one client address may hold open at once.
void AddMaxPerClientOption(CLI::App& command, std::size_t& maxPerClient);

// A limit in seconds, from a millisecond to a year: a limit of 0 would end every session at once.
void AddSecondsOption(CLI::App& command, const std::string& name, double& seconds,
                      const std::string& description);

// Adds "--log stderr|syslog" (default stderr) to a server command; the choice lands in `log`.
void AddLogOption(CLI::App& command, std::string& log);

// Sends the process's server log where `log` says, each line naming `program`, and the store's
// event log failures with it.
void OpenLog(const std::string& log, const std::string& program);

// "--tls-cert FILE" and "--tls-key FILE", which stand for machine.conf's tls_certificate and
// tls_key.
struct TlsOptions {
    std::string certificate;
    std::string key;
};
void AddTlsOptions(CLI::App& command, TlsOptions& tls);

// The certificate and key the options name, else those machine.conf names, else the ones
// "exhost init" made in the server folder's tls/. Named files must be good: a missing or
// unreadable file, a key others may read, or a key of another certificate fails with a
// UsageError that says which. Only when nothing is named and tls/ holds neither file is there
// no TLS (nullptr), and the server speaks plain text alone.
std::shared_ptr<server::net::TlsCredentials>
OpenTlsCredentials(const platform::host::ServerFolder& folder,
                   const platform::host::MachineNames& names, const TlsOptions& options);

// Reads the TLS files again on SIGHUP; sessions under way keep the ones they began with.
void ReloadTlsCredentials(server::net::TlsCredentials* tls);

// "--tls-listen ADDRESS:PORT": a second port whose sessions begin with the TLS handshake.
void AddTlsListenOption(CLI::App& command, std::string& tlsListen, const std::string& convention);
// The endpoint "--tls-listen" names (none when not given), which needs TLS files (`tls`);
// `example` shows the form in the error about a bad address.
std::optional<boost::asio::ip::tcp::endpoint>
TlsListenEndpoint(const std::string& tlsListen, const std::string& example,
                  const platform::host::ServerFolder& folder,
                  const std::shared_ptr<server::net::TlsCredentials>& tls);

// "--login-tries-per-minute N", shown with its default.
void AddLoginTriesOption(CLI::App& command, int& triesPerMinute);

// Starts the fronts, calls `announce` once they listen, and returns when SIGINT or SIGTERM has
// stopped them and their sessions are done; SIGHUP reads `tls` again. The signals are caught
// from before the start, so that a script that stops the server as soon as it has read the
// announcement never kills it.
template <class Server, class Announce>
void ServeUntilSignalled(boost::asio::io_context& io, const std::vector<Server*>& fronts,
                         server::net::TlsCredentials* tls, Announce announce) {
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    boost::asio::signal_set hangups(io, SIGHUP);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error)
            return;
        server::log::Event(server::log::Severity::Info, "server-stopping");
        hangups.cancel(); // or it would keep run() going after the fronts are done
        for (auto* front : fronts)
            front->Stop();
    });
    std::function<void(const boost::system::error_code&, int)> onHangup =
        [&](const boost::system::error_code& error, int) {
            if (error)
                return;
            ReloadTlsCredentials(tls);
            hangups.async_wait(onHangup);
        };
    hangups.async_wait(onHangup);
    for (auto* front : fronts)
        front->Start();
    announce();
    io.run();
    for (auto* front : fronts)
        front->Join();
    server::log::Event(server::log::Severity::Info, "server-stopped");
}

template <class Server, class Announce>
void ServeUntilSignalled(boost::asio::io_context& io, Server& front, Announce announce) {
    ServeUntilSignalled(io, std::vector<Server*>{&front}, nullptr, announce);
}

// How a front speaks, for its start line and its log: "plain text only", "STARTTLS" or
// "implicit TLS".
const char* TlsMode(bool tls, bool implicitTls);

// A front on `endpoint` and, with `tlsEndpoint`, the same front again there with implicit TLS,
// served until a signal stops them. Their ports go to standard output first, one line each;
// then for each "listening on ADDRESS:PORT (how) as HOST" with `more`, and the server-start
// log line with the fields `logFields` adds.
template <class Server, class Settings, class Backends, class LogFields>
void ServeFronts(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
                 const std::optional<boost::asio::ip::tcp::endpoint>& tlsEndpoint,
                 const Settings& settings, Backends backends, const std::string& host,
                 const std::string& more, LogFields logFields) {
    std::vector<std::unique_ptr<Server>> servers;
    servers.push_back(std::make_unique<Server>(io, endpoint, settings, backends));
    if (tlsEndpoint) {
        auto implicit = settings;
        implicit.implicitTls = true;
        servers.push_back(std::make_unique<Server>(io, *tlsEndpoint, implicit, backends));
    }
    std::vector<Server*> fronts;
    for (auto& front : servers)
        fronts.push_back(front.get());
    ServeUntilSignalled(io, fronts, settings.tls.get(), [&] {
        for (const auto* front : fronts)
            std::cout << front->LocalEndpoint().port() << "\n";
        for (const auto* front : fronts) {
            const auto bound = front->LocalEndpoint();
            const auto where = bound.address().to_string() + ":" + std::to_string(bound.port());
            const char* how = TlsMode(settings.tls != nullptr, front->Settings().implicitTls);
            std::cout << "listening on " << where << " (" << how << ") as " << host << more << "\n";
            auto event = server::log::Event(server::log::Severity::Info, "server-start");
            event.Field("listen", where).Field("tls", how).Field("host", host);
            logFields(event);
        }
        std::cout << std::flush;
    });
}

} // namespace exhost
