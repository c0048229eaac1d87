#include "FrontOptions.h"

#include "ServerContext.h"
#include "server/log/ServerLog.h"
#include "server/net/ListenAddress.h"

#include "platform/store/EventService.h"

#include <CLI/CLI.hpp>

#include <filesystem>

namespace exhost {

double Seconds(std::chrono::milliseconds duration) {
    return std::chrono::duration<double>(duration).count();
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

CLI::Option* AddListenOption(CLI::App& command, std::string& listen) {
    return command
        .add_option("--listen", listen,
                    "IP address and port to listen on (port 0 picks a free one)")
        ->capture_default_str();
}

void AddMaxPerClientOption(CLI::App& command, std::size_t& maxPerClient) {
    command
        .add_option("--max-per-client", maxPerClient,
                    "Sessions one client IP address may hold open at once")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
}

void AddSecondsOption(CLI::App& command, const std::string& name, double& seconds,
                      const std::string& description) {
    command.add_option(name, seconds, description)
        ->check(CLI::Range(0.001, 31536000.0))
        ->capture_default_str();
}

void AddLogOption(CLI::App& command, std::string& log) {
    command
        .add_option("--log", log,
                    "Where the server's log goes: stderr, or syslog (facility mail; journald "
                    "keeps it)")
        ->check(CLI::IsMember({"stderr", "syslog"}))
        ->capture_default_str();
}

void OpenLog(const std::string& log, const std::string& program) {
    namespace serverlog = server::log;
    serverlog::Open(log == "syslog" ? serverlog::Destination::Syslog
                                    : serverlog::Destination::StandardError,
                    program);
    // The store's event log is its own file; that it cannot be written is the server log's news.
    platform::store::SetEventLogFailureReporter(
        [](const std::string& path, const std::string& reason) {
            serverlog::Event(serverlog::Severity::Error, "event-log-failed")
                .Field("path", path)
                .Field("reason", reason);
        });
}

void AddTlsOptions(CLI::App& command, TlsOptions& tls) {
    auto* certificate =
        command.add_option("--tls-cert", tls.certificate,
                           "PEM file of the TLS certificate and its chain (default: machine.conf's "
                           "tls_certificate, else tls/server.crt in the server folder)");
    auto* key = command.add_option("--tls-key", tls.key,
                                   "PEM file of the certificate's private key, readable by its "
                                   "owner alone (default: tls_key, else tls/server.key)");
    certificate->needs(key);
    key->needs(certificate);
}

std::shared_ptr<server::net::TlsCredentials>
OpenTlsCredentials(const platform::host::ServerFolder& folder,
                   const platform::host::MachineNames& names, const TlsOptions& options) {
    namespace fs = std::filesystem;
    server::net::TlsFiles files;
    if (!options.certificate.empty()) {
        files = {fs::absolute(options.certificate), fs::absolute(options.key)};
    } else {
        files = {folder.TlsCertificateFile(names), folder.TlsKeyFile(names)};
        std::error_code ignored;
        const bool named = !names.tlsCertificate.empty() || !names.tlsKey.empty();
        if (!named && !fs::exists(files.certificate, ignored) && !fs::exists(files.key, ignored))
            return nullptr;
    }
    try {
        return std::make_shared<server::net::TlsCredentials>(files);
    } catch (const std::runtime_error& error) {
        throw UsageError(std::string("TLS: ") + error.what());
    }
}

void AddTlsListenOption(CLI::App& command, std::string& tlsListen, const std::string& convention) {
    command.add_option("--tls-listen", tlsListen,
                       "IP address and port to listen on with implicit TLS as well (" + convention +
                           ")");
}

std::optional<boost::asio::ip::tcp::endpoint>
TlsListenEndpoint(const std::string& tlsListen, const std::string& example,
                  const platform::host::ServerFolder& folder,
                  const std::shared_ptr<server::net::TlsCredentials>& tls) {
    if (tlsListen.empty())
        return std::nullopt;
    const auto endpoint = server::net::ParseListenAddress(tlsListen, example);
    if (!tls)
        throw UsageError("--tls-listen needs a certificate: none is named and " +
                         folder.TlsDir().string() + " holds none (\"exhost tls --new\" makes one)");
    return endpoint;
}

void AddLoginTriesOption(CLI::App& command, int& triesPerMinute) {
    command
        .add_option("--login-tries-per-minute", triesPerMinute,
                    "Passwords one client address may have checked a minute once it keeps "
                    "failing (all its connections together)")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
}

const char* TlsMode(bool tls, bool implicitTls) {
    return !tls ? "plain text only" : implicitTls ? "implicit TLS" : "STARTTLS";
}

void ReloadTlsCredentials(server::net::TlsCredentials* tls) {
    namespace serverlog = server::log;
    if (!tls) {
        serverlog::Event(serverlog::Severity::Info, "tls-reload").Field("result", "no TLS");
        return;
    }
    try {
        tls->Reload();
        serverlog::Event(serverlog::Severity::Info, "tls-reload")
            .Field("result", "read")
            .Field("certificate", tls->Files().certificate.string());
    } catch (const std::exception& error) {
        // The files in use stay: a half-copied certificate must not stop the server.
        serverlog::Event(serverlog::Severity::Error, "tls-reload")
            .Field("result", "kept the files in use")
            .Field("reason", error.what());
    }
}

} // namespace exhost
