#include "SmtpSessionOptions.h"

#include "ServerContext.h"

#include <CLI/CLI.hpp>

#include <tuple>

namespace exhost {

void AddSmtpSessionOptions(CLI::App& command, SmtpSessionOptions& options,
                           const std::string& lookup) {
    command.add_option("--max-size", options.maxSize, "Largest message accepted, in octets")
        ->capture_default_str();
    AddMaxPerClientOption(command, options.maxPerClient);
    for (const auto& [name, seconds, text] :
         {std::tuple{"--lookup-timeout", &options.lookupTimeout, lookup},
          std::tuple{"--command-timeout", &options.commandTimeout,
                     std::string("Seconds a whole command line may take to arrive after the "
                                 "previous reply")},
          std::tuple{"--data-timeout", &options.dataTimeout,
                     std::string("Seconds a whole message may take to arrive after the 354 "
                                 "reply")},
          std::tuple{"--session-timeout", &options.sessionTimeout,
                     std::string("Seconds a session may last before it is closed with 421")}})
        AddSecondsOption(command, name, *seconds, text);
}

void ApplySmtpSessionOptions(const SmtpSessionOptions& options,
                             server::smtp::ServerSettings& settings) {
    if (options.maxSize == 0)
        throw UsageError("--max-size must be at least 1 octet");
    settings.limits.maxMessageBytes = options.maxSize;
    settings.maxSessionsPerClient = options.maxPerClient;
    settings.lookupTimeout = Milliseconds(options.lookupTimeout);
    settings.commandTimeout = Milliseconds(options.commandTimeout);
    settings.dataTimeout = Milliseconds(options.dataTimeout);
    settings.sessionTimeout = Milliseconds(options.sessionTimeout);
}

} // namespace exhost
