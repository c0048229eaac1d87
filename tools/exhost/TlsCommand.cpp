// exhost tls: shows the servers' certificate, makes a new self-signed one, or installs a pair the
// operator brings (one from a CA). The files are those machine.conf names, else the ones in tls/.

#include "Commands.h"
#include "ServerContext.h"

#include "server/net/SelfSignedCertificate.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>

namespace exhost {

namespace {

namespace net = server::net;

struct TlsOptions {
    std::string root;
    bool makeNew = false;
    std::string host;
    std::vector<std::string> install;
};

constexpr const char* kReloadHint =
    "Running servers (smtp, lmtp, imap) take the new files on SIGHUP.\n";

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void Show(const net::TlsFiles& files) {
    std::error_code error;
    if (!std::filesystem::exists(files.certificate, error))
        throw UsageError("no TLS certificate at " + files.certificate.string() +
                         " (make one with \"exhost tls --new\")");
    const auto about = net::DescribeCertificateFile(files.certificate);
    std::string names;
    for (const auto& name : about.dnsNames)
        names += " DNS:" + name;
    for (const auto& address : about.ipAddresses)
        names += " IP:" + address;
    std::cout << "Certificate " << files.certificate.string() << "\n"
              << "  subject " << about.subject << "\n"
              << "  issuer " << about.issuer << (about.selfSigned ? " (self-signed)" : "") << "\n"
              << "  names" << (names.empty() ? " (none)" : names) << "\n"
              << "  valid from " << about.notBefore << " to " << about.notAfter << "\n"
              << "  SHA-256 fingerprint " << about.sha256Fingerprint << "\n"
              << "  key " << about.keyType << " " << about.keyBits << " bits\n";
    // The server's own check: what it would refuse at its start is refused here.
    net::MakeServerTlsContext(files);
    std::cout << "Key " << files.key.string() << ": key matches\n";
}

void RunTls(const TlsOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    const auto names = folder.ReadMachineNames();
    const net::TlsFiles files{folder.TlsCertificateFile(names), folder.TlsKeyFile(names)};
    if (options.makeNew) {
        const auto host = Lowercase(
            options.host.empty() ? names.computerName + "." + names.domainDnsName : options.host);
        RequireName(NameKind::Domain, "--host", host);
        net::WriteSelfSignedCertificate(host, files);
        std::cout << "New self-signed certificate for " << host << " in "
                  << files.certificate.string() << ", key " << files.key.string() << "\n"
                  << kReloadHint;
    } else if (!options.install.empty()) {
        const net::TlsFiles given{options.install[0], options.install[1]};
        // Read first, so that a missing file is named as the operator gave it.
        const auto certificate = ReadWholeFile(given.certificate);
        const auto key = ReadWholeFile(given.key);
        try {
            net::MakeServerTlsContext(given);
        } catch (const std::runtime_error& error) {
            throw UsageError(std::string("not installed: ") + error.what());
        }
        net::WriteTlsFiles(files, certificate, key);
        std::cout << "Installed " << given.certificate.string() << " as "
                  << files.certificate.string() << " and " << given.key.string() << " as "
                  << files.key.string() << "\n"
                  << kReloadHint;
    } else {
        Show(files);
    }
}

} // namespace

void AddTlsCommand(CLI::App& app) {
    auto options = std::make_shared<TlsOptions>();
    auto* command = app.add_subcommand(
        "tls", "Show the servers' TLS certificate, make a self-signed one or install a pair");
    AddRootOption(*command, options->root);
    auto* makeNew = command->add_flag("--new", options->makeNew,
                                      "Replace it with a new self-signed certificate");
    command->add_option("--host", options->host, "The new certificate's host name")->needs(makeNew);
    command->add_option("--install", options->install, "Check CERT and KEY and put them in place")
        ->expected(2)
        ->type_name("CERT KEY")
        ->excludes(makeNew);
    command->callback([options] { RunTls(*options); });
}

} // namespace exhost
