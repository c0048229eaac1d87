#pragma once

// What the SMTP-speaking server commands (smtp, lmtp, submission) share of a session's limits:
// the largest message, sessions per client address and the four time limits, as options and as
// the server's settings.

#include "FrontOptions.h"
#include "server/smtp/SmtpServer.h"

#include <cstddef>
#include <string>

namespace CLI {
class App;
} // namespace CLI

namespace exhost {

struct SmtpSessionOptions {
    std::size_t maxSize = server::smtp::Limits{}.maxMessageBytes;
    std::size_t maxPerClient = server::smtp::ServerSettings{}.maxSessionsPerClient;
    double lookupTimeout = Seconds(server::smtp::ServerSettings{}.lookupTimeout);
    double commandTimeout = Seconds(server::smtp::ServerSettings{}.commandTimeout);
    double dataTimeout = Seconds(server::smtp::ServerSettings{}.dataTimeout);
    double sessionTimeout = Seconds(server::smtp::ServerSettings{}.sessionTimeout);
};

// "--max-size", "--max-per-client" and the time limits; `lookup` says what --lookup-timeout
// bounds for this command.
void AddSmtpSessionOptions(CLI::App& command, SmtpSessionOptions& options,
                           const std::string& lookup);

// Copies the options into `settings`; a --max-size of 0 is a UsageError.
void ApplySmtpSessionOptions(const SmtpSessionOptions& options,
                             server::smtp::ServerSettings& settings);

} // namespace exhost
