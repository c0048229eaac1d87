#include "platform/host/ServerFolder.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/PrivateFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <tuple>

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

// What tells one version of a file from another without reading it.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    bool operator==(const FileStamp& other) const {
        return std::tie(device, inode, size, modifiedNs, changedNs) ==
               std::tie(other.device, other.inode, other.size, other.modifiedNs, other.changedNs);
    }
};

std::optional<FileStamp> StampOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    auto ns = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    return FileStamp{status.st_dev, status.st_ino, status.st_size, ns(status.st_mtim),
                     ns(status.st_ctim)};
}

// The machine names are read before nearly every short directory or store call (a window binds
// every mailbox it lists), and reading the file was most of such a call's cost: the names are
// kept while the file stays the same, and dropped when this process writes it.
class MachineNamesCache {
public:
    std::optional<MachineNames> Find(const std::filesystem::path& file, const FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        const auto found = kept_.find(file);
        if (found == kept_.end() || !(found->second.first == stamp))
            return std::nullopt;
        return found->second.second;
    }
    void Keep(const std::filesystem::path& file, const FileStamp& stamp,
              const MachineNames& names) {
        std::lock_guard lock(mutex_);
        kept_[file] = {stamp, names};
    }
    void Forget(const std::filesystem::path& file) {
        std::lock_guard lock(mutex_);
        kept_.erase(file);
    }

private:
    std::mutex mutex_;
    std::map<std::filesystem::path, std::pair<FileStamp, MachineNames>> kept_;
};

MachineNamesCache& KeptMachineNames() {
    static auto* cache = new MachineNamesCache; // never destroyed: used during exit
    return *cache;
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
    const auto file = MachineFile();
    const auto stamp = StampOf(file);
    if (stamp)
        if (auto kept = KeptMachineNames().Find(file, *stamp))
            return *kept;
    const auto values = ReadKeyValueFile(file);
    auto get = [&](const char* key) {
        auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    };
    MachineNames names{get("computer"), get("domain"),        get("forest"),
                       get("gc_host"),  get("directory_uri"), get("postmaster")};
    if (names.computerName.empty())
        throw Error(hr::E_INVALIDARG, MachineFile().string() + " names no computer");
    // Kept only when the file did not change while it was read.
    if (stamp && StampOf(file) == stamp)
        KeptMachineNames().Keep(file, *stamp, names);
    return names;
}

void ServerFolder::WriteMachineNames(const MachineNames& names) const {
    KeptMachineNames().Forget(MachineFile());
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
    out.close();
    KeptMachineNames().Forget(MachineFile());
    if (!out)
        throw Error(hr::E_FAIL, "Cannot write " + MachineFile().string());
}

} // namespace platform::host
