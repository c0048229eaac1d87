// exhost init: a new server folder with its machine names, store and directory data.

#include "Commands.h"
#include "ServerContext.h"
#include "server/mailstore/DefaultFolders.h"

#include "platform/directory/SampleDirectory.h"
#include "platform/host/PrivateFiles.h"
#include "platform/store/Store.h"
#include "platform/store/StoreUrl.h"
#include "server/net/SelfSignedCertificate.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace exhost {

namespace {

namespace fs = std::filesystem;
namespace directory = platform::directory;
namespace store = platform::store;

constexpr const char* kPostmasterAlias = "postmaster";
// Every sample user's password, for logging in over IMAP in the demo (the README names it).
constexpr const char* kDemoPassword = "lorvanta-demo";

// A salted hash of the password as slapd keeps it, made by slapd's own tool.
std::string HashedPassword(const std::string& password) {
    for (const char* tool : {"/usr/sbin/slappasswd", "slappasswd"}) {
        const std::string command =
            std::string(tool) + " -h '{SSHA}' -s '" + password + "' 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            continue;
        char line[256] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        const int status = pclose(pipe);
        std::string hash = read ? line : "";
        while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r'))
            hash.pop_back();
        if (status == 0 && hash.starts_with("{SSHA}"))
            return hash;
    }
    throw UsageError("cannot hash the sample users' password: slappasswd (package slapd) failed");
}

struct InitOptions {
    std::string root;
    std::string domain = "example.com";
    std::string computer = "MAIL01";
    std::size_t users = 20;
    std::uint32_t seed = 1;
    bool force = false;
};

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// An existing folder is only replaced on request, and then its directory server is stopped
// first so that no slapd keeps running on deleted files.
void ClearFolder(const platform::host::ServerFolder& folder, bool force) {
    std::error_code error;
    if (!fs::exists(folder.Root(), error))
        return;
    if (!fs::is_directory(folder.Root(), error))
        throw UsageError(folder.Root().string() + " exists and is not a folder");
    if (fs::is_empty(folder.Root(), error))
        return;
    if (!force)
        throw UsageError(folder.Root().string() +
                         " already exists and is not empty (use --force to replace it)");
    if (fs::is_regular_file(folder.MachineFile(), error)) {
        try {
            DirectoryServerOf(folder).Stop();
        } catch (...) {
            // A broken machine.conf leaves nothing that could be stopped by it.
        }
    }
    for (const auto& entry : fs::directory_iterator(folder.Root()))
        fs::remove_all(entry.path());
}

// What init makes in the server folder, removed again unless it gets to the end: a failed init
// leaves the folder empty as it found it (or cleared it), or missing with the folders above it
// that it would have created.
class MadeUnlessDone {
public:
    explicit MadeUnlessDone(const fs::path& root) : root_(root) {
        // Only what surely is not there yet counts as missing: nothing else is ever removed.
        std::error_code error;
        for (auto missing = root;
             missing.has_relative_path() &&
             fs::symlink_status(missing, error).type() == fs::file_type::not_found;
             missing = missing.parent_path())
            firstMissing_ = missing;
    }
    ~MadeUnlessDone() {
        if (done_)
            return;
        std::error_code ignored;
        if (!firstMissing_.empty()) {
            fs::remove_all(firstMissing_, ignored);
            return;
        }
        for (const auto& entry : fs::directory_iterator(root_, ignored))
            fs::remove_all(entry.path(), ignored);
    }
    MadeUnlessDone(const MadeUnlessDone&) = delete;
    MadeUnlessDone& operator=(const MadeUnlessDone&) = delete;

    void Done() { done_ = true; }

private:
    fs::path root_;
    fs::path firstMissing_;
    bool done_ = false;
};

void RunInit(const InitOptions& options) {
    // Everything is checked before anything is made.
    if (options.users == 0)
        throw UsageError("--users must be at least 1");
    RequireName(NameKind::Computer, "--computer", options.computer);
    RequireName(NameKind::Domain, "--domain", options.domain);
    const auto userPassword = HashedPassword(kDemoPassword);
    const auto folder = ResolveRoot(options.root);
    ClearFolder(folder, options.force);

    MadeUnlessDone made(folder.Root());
    for (const auto& created : {folder.Root(), folder.StoreDir(), folder.ComDir()})
        platform::host::CreatePrivateFolder(created);

    platform::host::MachineNames names;
    names.computerName = options.computer;
    names.domainDnsName = options.domain;
    names.forestDnsName = options.domain;
    names.globalCatalogHost = "dc01." + options.domain;
    // Mail for postmaster lands in a mailbox of its own, which has no directory entry.
    names.postmaster = kPostmasterAlias;
    directory::DirectoryServerSettings serverSettings;
    serverSettings.folder = folder.DirectoryDir();
    serverSettings.forestDnsName = names.forestDnsName;
    serverSettings.hostName = names.globalCatalogHost;
    directory::DirectoryServer server(serverSettings);
    names.directoryUri = server.Uri();
    folder.WriteMachineNames(names);

    // The servers can offer TLS at once; the operator replaces it with "exhost tls --install".
    auto host = names.computerName + "." + names.domainDnsName;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const server::net::TlsFiles tls{folder.TlsCertificateFile(names), folder.TlsKeyFile(names)};
    std::error_code error;
    const bool tlsKept = fs::exists(tls.certificate, error) && fs::exists(tls.key, error);
    if (!tlsKept)
        server::net::WriteSelfSignedCertificate(host, tls);

    const auto mailStore = OpenStore(folder);
    mailStore->CreateDomainFolder(options.domain);
    const auto systemUrl = mailStore->CreateSystemMailbox(options.domain);
    const auto systemAlias = store::ParseStoreUrl(systemUrl, mailStore->Server()).mailbox;

    directory::SampleDirectorySettings sampleSettings;
    sampleSettings.forestDnsName = options.domain;
    sampleSettings.computerName = options.computer;
    sampleSettings.users = options.users;
    sampleSettings.seed = options.seed;
    sampleSettings.userPassword = userPassword;
    auto sample = directory::GenerateSampleDirectory(sampleSettings);

    // The directory entry of the system mailbox has to carry the name the store gave it. The
    // account name is cut to 20 characters, so its shorter form is replaced as well.
    ReplaceAll(sample.ldif, sample.systemMailboxAlias, systemAlias);
    ReplaceAll(sample.ldif, "sAMAccountName: " + sample.systemMailboxAlias.substr(0, 20),
               "sAMAccountName: " + systemAlias.substr(0, 20));

    std::vector<std::string> aliases = sample.localAliases;
    for (const auto& special : {sample.disabledAlias, sample.noMailAlias, sample.slashAlias,
                                sample.utf8Alias, names.postmaster})
        if (!special.empty())
            aliases.push_back(special);
    for (const auto& alias : aliases)
        server::mailstore::MakeSpecialFolders(*mailStore,
                                              mailStore->CreateMailbox(options.domain, alias));

    server.WriteConfiguration();
    const auto ldif = folder.DirectoryDir() / "sample.ldif";
    {
        platform::host::CreatePrivateFile(ldif);
        std::ofstream out(ldif, std::ios::trunc);
        out << sample.ldif;
        if (!out)
            throw UsageError("cannot write " + ldif.string());
    }
    server.Load(ldif);
    made.Done();

    std::cout << "Server folder " << folder.Root().string() << "\n"
              << "  computer " << names.computerName << ", domain " << names.domainDnsName
              << ", global catalog " << names.globalCatalogHost << "\n"
              << "  store: domain folder " << options.domain << ", " << aliases.size()
              << " mailboxes, system mailbox " << systemAlias << "\n"
              << "  directory: " << sample.mailboxCount << " mailbox entries ("
              << sample.localMailboxCount << " on " << names.computerName << "), operator account "
              << sample.operatorAccount << "\n"
              << "  first mailbox " << sample.localAliases.front() << ", postmaster mailbox "
              << names.postmaster << "\n"
              << "  sample users' password (IMAP): " << kDemoPassword << "\n"
              << "  tls: "
              << (tlsKept ? "kept the certificate "
                          : "self-signed certificate for " + host + " in ")
              << tls.certificate.string() << ", key " << tls.key.string() << "\n"
              << "Start the directory with: exhost directory start --root "
              << folder.Root().string() << "\n";
}

} // namespace

void AddInitCommand(CLI::App& app) {
    auto options = std::make_shared<InitOptions>();
    auto* command = app.add_subcommand("init", "Create a server folder with sample data");
    AddRootOption(*command, options->root);
    command->add_option("--domain", options->domain, "DNS domain (default example.com)");
    command->add_option("--computer", options->computer, "Computer name (default MAIL01)");
    command->add_option("--users", options->users, "Sample mailbox users (default 20)")
        ->check(CLI::PositiveNumber);
    command->add_option("--seed", options->seed, "Seed of the sample data (default 1)");
    command->add_flag("--force", options->force, "Replace an existing folder");
    command->callback([options] { RunInit(*options); });
}

} // namespace exhost
