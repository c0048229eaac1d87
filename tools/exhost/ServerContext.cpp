// The --root option and what the commands open from the server folder it names: the folder
// itself, its directory server and its store.

#include "ServerContext.h"

#include "platform/core/JsonText.h"
#include "platform/host/NameRules.h"
#include "platform/store/Store.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace exhost {

namespace fs = std::filesystem;

namespace {
std::string globalRoot;
}

void AddGlobalRootOption(CLI::App& app) {
    app.add_option("--root", globalRoot, "The server folder (default: $EXHOST_ROOT)");
}

void AddRootOption(CLI::App& command, std::string& root) {
    command.add_option("--root", root, "The server folder (default: $EXHOST_ROOT)");
}

void RequireName(NameKind kind, const std::string& option, const std::string& value) {
    namespace host = platform::host;
    const auto [problem, noun] =
        kind == NameKind::Computer ? std::pair{host::ComputerNameProblem(value), "computer name"}
        : kind == NameKind::Domain ? std::pair{host::DomainNameProblem(value), "DNS domain"}
                                   : std::pair{host::MailboxNameProblem(value), "mailbox name"};
    if (!problem)
        return;
    std::string message = option + " ";
    platform::text::AppendJsonString(message, value);
    throw UsageError(message + " is not a " + noun + ": it " + *problem);
}

platform::host::ServerFolder ResolveRoot(const std::string& rootOption) {
    std::string root = rootOption.empty() ? globalRoot : rootOption;
    if (root.empty()) {
        const char* variable = std::getenv(platform::host::kRootVariable);
        if (variable)
            root = variable;
    }
    if (root.empty())
        throw UsageError(std::string("no server folder: give --root DIR or set ") +
                         platform::host::kRootVariable);
    const auto absolute = fs::absolute(root).lexically_normal();
    setenv(platform::host::kRootVariable, absolute.c_str(), 1);
    return platform::host::ServerFolder(absolute);
}

platform::host::ServerFolder OpenServerFolder(const std::string& rootOption) {
    auto folder = ResolveRoot(rootOption);
    std::error_code error;
    if (!fs::is_regular_file(folder.MachineFile(), error))
        throw UsageError("no server folder at " + folder.Root().string() + " (" +
                         folder.MachineFile().string() + " is missing; run \"exhost init\")");
    return folder;
}

platform::directory::DirectoryServer DirectoryServerOf(const platform::host::ServerFolder& folder) {
    const auto names = folder.ReadMachineNames();
    platform::directory::DirectoryServerSettings settings;
    settings.folder = folder.DirectoryDir();
    settings.forestDnsName =
        names.forestDnsName.empty() ? names.domainDnsName : names.forestDnsName;
    settings.hostName = names.globalCatalogHost;
    return platform::directory::DirectoryServer(settings);
}

std::shared_ptr<platform::store::Store> OpenStore(const platform::host::ServerFolder& folder) {
    return platform::store::Store::Open(folder);
}

std::string ReadWholeFile(const fs::path& file) {
    std::error_code error;
    if (fs::is_directory(file, error))
        throw UsageError("cannot read " + file.string() + ": it is a directory");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw UsageError("cannot read " + file.string() + ": no such file or not readable");
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        throw UsageError("cannot read " + file.string());
    return content.str();
}

} // namespace exhost
