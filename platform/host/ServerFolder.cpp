// Finds the server folder, names its parts, and reads and writes its machine names, keeping the
// parsed names while the file's content stays the same.

#include "platform/host/ServerFolder.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/PrivateFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

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

// The whole file through plain system calls; nullopt when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buffer[4096];
    for (;;) {
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return content;
}

// The machine names are read before nearly every short directory or store call (a window binds
// every mailbox it lists), and parsing the file was most of such a call's cost: the names parsed
// from a file's content are kept, and reused while the file still holds that content.
class MachineNamesCache {
public:
    std::optional<MachineNames> Find(const std::filesystem::path& file,
                                     const std::string& content) {
        std::lock_guard lock(mutex_);
        const auto found = kept_.find(file);
        if (found == kept_.end() || found->second.first != content)
            return std::nullopt;
        return found->second.second;
    }
    void Keep(const std::filesystem::path& file, std::string content, const MachineNames& names) {
        std::lock_guard lock(mutex_);
        kept_[file] = {std::move(content), names};
    }

private:
    std::mutex mutex_;
    std::map<std::filesystem::path, std::pair<std::string, MachineNames>> kept_;
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

std::map<std::string, FileValue> ReadKeyValueFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in)
        throw Error(ERROR_FILE_NOT_FOUND, "Cannot read " + path.string());
    std::map<std::string, FileValue> values;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto content = Trimmed(line);
        if (content.empty() || content[0] == '#')
            continue;
        const auto equals = content.find('=');
        if (equals == std::string::npos)
            throw Error(hr::E_INVALIDARG, path.string() + ", line " + std::to_string(number) +
                                              ": expected \"key = value\"");
        values[Trimmed(std::string_view(content).substr(0, equals))] = {
            Trimmed(std::string_view(content).substr(equals + 1)), number};
    }
    return values;
}

MachineNames ServerFolder::ReadMachineNames() const {
    const auto file = MachineFile();
    const auto content = ReadSmallFile(file);
    if (content)
        if (auto kept = KeptMachineNames().Find(file, *content))
            return *kept;
    const auto values = ReadKeyValueFile(file);
    auto get = [&](const char* key) {
        auto found = values.find(key);
        return found == values.end() ? std::string() : found->second.text;
    };
    // A setting that is neither yes nor no fails rather than being taken for either.
    auto yesNo = [&](const char* key) {
        auto found = values.find(key);
        if (found == values.end())
            return false;
        for (const char* yes : {"yes", "true", "on"})
            if (platform::text::EqualsIgnoreCase(found->second.text, yes))
                return true;
        for (const char* no : {"no", "false", "off"})
            if (platform::text::EqualsIgnoreCase(found->second.text, no))
                return false;
        throw Error(hr::E_INVALIDARG, file.string() + ", line " +
                                          std::to_string(found->second.line) + ": " + key +
                                          " must be yes or no, not \"" + found->second.text + "\"");
    };
    MachineNames names{get("computer"),        get("domain"),
                       get("forest"),          get("gc_host"),
                       get("directory_uri"),   get("postmaster"),
                       yesNo("take_keywords"), yesNo("envelope_recipient_list"),
                       get("tls_certificate"), get("tls_key"),
                       get("relay_host")};
    if (names.computerName.empty())
        throw Error(hr::E_INVALIDARG, MachineFile().string() + " names no computer");
    // Kept only when the file did not change between the two reads.
    if (content && ReadSmallFile(file) == content)
        KeptMachineNames().Keep(file, *content, names);
    return names;
}

void ServerFolder::WriteMachineNames(const MachineNames& names) const {
    // A value with a line break would be read back as a line of its own, a setting of its own.
    for (const auto* value : {&names.computerName, &names.domainDnsName, &names.forestDnsName,
                              &names.globalCatalogHost, &names.directoryUri, &names.postmaster,
                              &names.tlsCertificate, &names.tlsKey, &names.relayHost})
        if (value->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw Error(hr::E_INVALIDARG, "Cannot write " + MachineFile().string() +
                                              ": a value holds a line break or a NUL");
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
    if (names.takeKeywords)
        out << "take_keywords = yes\n";
    if (names.envelopeRecipientList)
        out << "envelope_recipient_list = yes\n";
    for (const auto& [key, value] :
         {std::pair{"tls_certificate", &names.tlsCertificate}, std::pair{"tls_key", &names.tlsKey},
          std::pair{"relay_host", &names.relayHost}})
        if (!value->empty())
            out << key << " = " << *value << "\n";
    out.close();
    if (!out)
        throw Error(hr::E_FAIL, "Cannot write " + MachineFile().string());
}

std::filesystem::path ServerFolder::TlsCertificateFile(const MachineNames& names) const {
    return names.tlsCertificate.empty() ? TlsDir() / "server.crt" : root_ / names.tlsCertificate;
}

std::filesystem::path ServerFolder::TlsKeyFile(const MachineNames& names) const {
    return names.tlsKey.empty() ? TlsDir() / "server.key" : root_ / names.tlsKey;
}

} // namespace platform::host
