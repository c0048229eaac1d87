#pragma once

// What the server commands (smtp, lmtp, imap) share: their common options, their log, and the
// run of a server until a signal stops it.

#include "server/log/ServerLog.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <string>

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

// Starts `front`, calls `announce` once it listens, and returns when SIGINT or SIGTERM has
// stopped it and its sessions are done. The signals are caught from before the start, so that
// a script that stops the server as soon as it has read the announcement never kills it.
template <class Server, class Announce>
void ServeUntilSignalled(boost::asio::io_context& io, Server& front, Announce announce) {
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (!error) {
            server::log::Event(server::log::Severity::Info, "server-stopping");
            front.Stop();
        }
    });
    front.Start();
    announce();
    io.run();
    front.Join();
    server::log::Event(server::log::Severity::Info, "server-stopped");
}

} // namespace exhost
