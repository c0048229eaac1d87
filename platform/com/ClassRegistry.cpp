// Reads and rewrites the server folder's class file under its lock, keeping a parsed copy that is
// read again only when the file changes.

#include "platform/com/ClassRegistry.h"

#include "platform/com/Guid.h"
#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/FileUpdate.h"
#include "platform/host/PrivateFiles.h"
#include "platform/host/ServerFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform::com {

namespace fs = std::filesystem;

namespace {

std::string SystemErrorText(int error) {
    return std::strerror(error);
}

[[noreturn]] void FailIo(const std::string& what, const fs::path& path, int error) {
    throw Error(hr::E_FAIL, "Cannot " + what + " the class registry file " + path.string() + ": " +
                                SystemErrorText(error));
}

bool Storable(std::string_view field) {
    return !field.empty() && field.find_first_of("\t\r\n") == std::string_view::npos;
}

std::vector<ClassRegistration> ReadFile(const fs::path& path) {
    std::vector<ClassRegistration> classes;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!fs::exists(path))
            return classes;
        FailIo("read", path, errno);
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto fields = text::Split(line, '\t');
        const auto clsid = fields.size() == 4 ? ParseGuid(fields[0]) : std::nullopt;
        if (!clsid)
            throw Error(hr::E_FAIL, "Line " + std::to_string(number) + " of the class registry " +
                                        path.string() + " is not a class entry");
        classes.push_back({*clsid, std::string(fields[1]), std::string(fields[2]),
                           fs::path(std::string(fields[3]))});
    }
    return classes;
}

// Identifies one version of the registry file. Every write renames a new file into place, so a
// changed file has a new inode even when its size and time look the same.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileVersion&) const = default;
};

std::optional<FileVersion> VersionOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileVersion{info.st_dev, info.st_ino, info.st_size,
                       static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                           info.st_mtim.tv_nsec};
}

using Classes = std::vector<ClassRegistration>;

// The parsed registry files of this process, each kept until its file changes, so that creating
// an object does not parse the file again every time.
std::shared_ptr<const Classes> CurrentClasses(const fs::path& path) {
    struct Cached {
        FileVersion version;
        std::shared_ptr<const Classes> classes;
    };
    static std::mutex mutex;
    static std::map<fs::path, Cached> cache;

    const auto version = VersionOf(path);
    if (!version)
        return std::make_shared<const Classes>(ReadFile(path));
    {
        std::lock_guard lock(mutex);
        if (auto found = cache.find(path);
            found != cache.end() && found->second.version == *version)
            return found->second.classes;
    }
    auto classes = std::make_shared<const Classes>(ReadFile(path));
    // Only keep what was read if the file did not change meanwhile.
    if (VersionOf(path) == version) {
        std::lock_guard lock(mutex);
        cache[path] = {*version, classes};
    }
    return classes;
}

void WriteFile(const fs::path& path, const std::vector<ClassRegistration>& classes) {
    std::ostringstream content;
    content << "# CLSID\tProgID\tThreadingModel\tServer\n";
    for (const auto& entry : classes)
        content << FormatGuid(entry.clsid) << '\t' << entry.progId << '\t' << entry.threadingModel
                << '\t' << entry.server.string() << '\n';
    const std::string bytes = content.str();

    host::ReplaceFileContent(path, bytes, host::kPrivateFileMode, FailIo);
}

void EnsureFolder(const fs::path& folder) {
    std::error_code error;
    host::CreatePrivateFolder(folder, error);
    if (error)
        throw Error(hr::E_FAIL, "Cannot create the class registry folder " + folder.string() +
                                    ": " + error.message());
}

} // namespace

bool IsValidProgId(std::string_view progId) {
    if (progId.empty() || progId.size() > 39)
        return false;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!isLetter(progId[0]))
        return false;
    for (char c : progId)
        if (!isLetter(c) && !isDigit(c) && c != '.')
            return false;
    return true;
}

ClassRegistry::ClassRegistry(fs::path folder) : folder_(std::move(folder)) {
}

namespace {
thread_local std::optional<fs::path> registryOverride;
} // namespace

ScopedRegistryOverride::ScopedRegistryOverride(fs::path folder)
    : previous_(std::exchange(registryOverride, std::move(folder))) {
}

ScopedRegistryOverride::~ScopedRegistryOverride() {
    registryOverride = std::move(previous_);
}

ClassRegistry ClassRegistry::FromEnvironment() {
    if (registryOverride)
        return ClassRegistry(*registryOverride);
    return ClassRegistry(host::ServerFolder::FromEnvironment().ComDir());
}

void ClassRegistry::Register(const ClassRegistration& registration) const {
    if (!IsValidProgId(registration.progId))
        throw Error(hr::CO_E_CLASSSTRING, "\"" + registration.progId +
                                              "\" is not a valid ProgID for class " +
                                              FormatGuid(registration.clsid));
    if (!Storable(registration.threadingModel) || !Storable(registration.server.string()))
        throw Error(hr::E_INVALIDARG, "The threading model and server path of class " +
                                          registration.progId +
                                          " must be non-empty and free of tabs and line breaks");
    EnsureFolder(folder_);
    host::ExclusiveFileLock lock(folder_ / "classes.lock", host::kPrivateFileMode, FailIo);
    auto classes = ReadFile(File());
    std::erase_if(classes, [&](const ClassRegistration& entry) {
        return entry.clsid == registration.clsid ||
               text::EqualsIgnoreCase(entry.progId, registration.progId);
    });
    classes.push_back(registration);
    WriteFile(File(), classes);
}

bool ClassRegistry::Unregister(const CLSID& clsid) const {
    if (!fs::exists(File()))
        return false;
    host::ExclusiveFileLock lock(folder_ / "classes.lock", host::kPrivateFileMode, FailIo);
    auto classes = ReadFile(File());
    if (std::erase_if(classes,
                      [&](const ClassRegistration& entry) { return entry.clsid == clsid; }) == 0)
        return false;
    WriteFile(File(), classes);
    return true;
}

std::optional<ClassRegistration> ClassRegistry::FindByClassId(const CLSID& clsid) const {
    const auto classes = CurrentClasses(File());
    for (const auto& entry : *classes)
        if (entry.clsid == clsid)
            return entry;
    return std::nullopt;
}

std::optional<ClassRegistration> ClassRegistry::FindByProgId(std::string_view progId) const {
    const auto classes = CurrentClasses(File());
    for (const auto& entry : *classes)
        if (text::EqualsIgnoreCase(entry.progId, progId))
            return entry;
    return std::nullopt;
}

std::vector<ClassRegistration> ClassRegistry::List() const {
    return *CurrentClasses(File());
}

} // namespace platform::com
