#include "platform/host/ServerFolder.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/PrivateFiles.h"

#include <cstdlib>
#include <fstream>

namespace platform::host {

namespace {

constexpr std::int32_t ERROR_FILE_NOT_FOUND = hr::Code(0x80070002);
constexpr std::int32_t ERROR_PATH_NOT_FOUND = hr::Code(0x80070003);

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

} // namespace

ServerFolder::ServerFolder(std::filesystem::path root) : root_(std::move(root)) {
}

ServerFolder ServerFolder::FromEnvironment() {
    const char* root = std::getenv(kRootVariable);
    if (!root || !*root)
        throw Error(ERROR_PATH_NOT_FOUND,
                    std::string("No server folder: the environment variable ") + kRootVariable +
                        " is not set");
    return ServerFolder(root);
}

std::map<std::string, std::string> ReadKeyValueFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in)
        throw Error(ERROR_FILE_NOT_FOUND, "Cannot read " + path.string());
    std::map<std::string, std::string> values;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto content = Trimmed(line);
        if (content.empty() || content[0] == '#')
            continue;
        const auto equals = content.find('=');
        if (equals == std::string::npos)
            throw Error(hr::E_INVALIDARG, path.string() + ", line " + std::to_string(number) +
                                              ": expected \"key = value\"");
        values[Trimmed(std::string_view(content).substr(0, equals))] =
            Trimmed(std::string_view(content).substr(equals + 1));
    }
    return values;
}

MachineNames ServerFolder::ReadMachineNames() const {
    const auto values = ReadKeyValueFile(MachineFile());
    auto get = [&](const char* key) {
        auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    };
    MachineNames names{get("computer"), get("domain"),        get("forest"),
                       get("gc_host"),  get("directory_uri"), get("postmaster")};
    if (names.computerName.empty())
        throw Error(hr::E_INVALIDARG, MachineFile().string() + " names no computer");
    return names;
}

void ServerFolder::WriteMachineNames(const MachineNames& names) const {
    CreatePrivateFolder(root_);
    CreatePrivateFile(MachineFile());
    std::ofstream out(MachineFile(), std::ios::trunc);
    out << "# The names of the emulated server.\n"
        << "computer = " << names.computerName << "\n"
        << "domain = " << names.domainDnsName << "\n"
        << "forest = " << names.forestDnsName << "\n"
        << "gc_host = " << names.globalCatalogHost << "\n"
        << "directory_uri = " << names.directoryUri << "\n";
    if (!names.postmaster.empty())
        out << "postmaster = " << names.postmaster << "\n";
    if (!out)
        throw Error(hr::E_FAIL, "Cannot write " + MachineFile().string());
}

} // namespace platform::host
