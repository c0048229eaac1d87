#pragma once

// What the server commands (smtp, lmtp, imap, submission) share: their common options, their
// TLS files, their log, and the run of their servers until a signal stops them.

#include "server/log/ServerLog.h"
#include "server/net/TlsContext.h"

#include "platform/host/ServerFolder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <functional>
#include <memory>
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

} // namespace exhost
