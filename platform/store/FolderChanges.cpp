// Change notices between processes through files and inotify (FolderChanges.h).

#include "platform/store/FolderChanges.h"

#include "platform/core/Error.h"
#include "platform/host/PrivateFiles.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform::store {

std::filesystem::path ChangesFolder(const std::filesystem::path& storeDir) {
    return storeDir / "changes";
}

std::string ChangeFileName(const std::string& folderKey) {
    // FNV-1a: short, stable across processes and builds (std::hash promises neither).
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : folderKey) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4)
        name[static_cast<std::size_t>(i)] = kDigits[hash & 0xf];
    return name;
}

void SignalFolderChanges(const std::filesystem::path& storeDir,
                         const std::set<std::string>& folderKeys) {
    if (folderKeys.empty())
        return;
    const auto folder = ChangesFolder(storeDir);
    for (const auto& key : folderKeys) {
        const auto path = folder / ChangeFileName(key);
        // Closing a file opened for writing is what the watch hears (IN_CLOSE_WRITE).
        int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (file < 0 && errno == ENOENT) {
            std::error_code ignored;
            host::CreatePrivateFolder(folder, ignored);
            file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        }
        if (file >= 0)
            ::close(file);
    }
}

FolderChangeWatch::FolderChangeWatch(const std::filesystem::path& storeDir) {
    const auto folder = ChangesFolder(storeDir);
    std::error_code made;
    host::CreatePrivateFolder(folder, made);
    descriptor_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor_ < 0 || inotify_add_watch(descriptor_, folder.c_str(), IN_CLOSE_WRITE) < 0) {
        const auto why = std::string(std::strerror(errno));
        if (descriptor_ >= 0)
            ::close(descriptor_);
        throw Error(platform::hr::E_FAIL,
                    "Cannot watch " + folder.string() + " for changes: " + why);
    }
}

FolderChangeWatch::~FolderChangeWatch() {
    ::close(descriptor_);
}

FolderChangeWatch::Notices FolderChangeWatch::Take() {
    Notices notices;
    std::set<std::string> seen;
    alignas(inotify_event) std::array<char, 16 * 1024> buffer;
    for (;;) {
        const auto got = ::read(descriptor_, buffer.data(), buffer.size());
        if (got <= 0)
            break; // EAGAIN: all taken
        for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(got);) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            at += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW)
                notices.overflowed = true;
            else if (event->len > 0) {
                std::string name(event->name, ::strnlen(event->name, event->len));
                if (seen.insert(name).second)
                    notices.names.push_back(std::move(name));
            }
        }
    }
    return notices;
}

} // namespace platform::store
