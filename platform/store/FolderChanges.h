#pragma once

// How a process learns that another one changed a folder of the store, without reading the
// store to find out: after a write commits, the store touches one file per changed folder in the
// store directory's "changes" folder (the file's name stands for the folder), and a
// FolderChangeWatch hears of it through inotify. A notice says only "look again": a reader then
// reads the folder's numbers as always, so a lost or spurious notice costs a look, nothing more.

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace platform::store {

// The folder of change files in a store directory.
std::filesystem::path ChangesFolder(const std::filesystem::path& storeDir);

// The change file's name for a folder key: 16 hex digits, the same in every process.
std::string ChangeFileName(const std::string& folderKey);

// Touches the change file of every folder in `folderKeys`. Failures are ignored: the change is
// committed either way, and watchers look again now and then.
void SignalFolderChanges(const std::filesystem::path& storeDir,
                         const std::set<std::string>& folderKeys);

// Hears of the change files touched, by any process, in one store directory.
class FolderChangeWatch {
public:
    // Fails (platform::Error) when the kernel gives no watch.
    explicit FolderChangeWatch(const std::filesystem::path& storeDir);
    ~FolderChangeWatch();
    FolderChangeWatch(const FolderChangeWatch&) = delete;
    FolderChangeWatch& operator=(const FolderChangeWatch&) = delete;

    // Readable (poll, epoll, an asio descriptor) while notices wait to be taken.
    int Descriptor() const { return descriptor_; }

    struct Notices {
        std::vector<std::string> names; // change file names, each once
        bool overflowed = false;        // the kernel dropped some: any folder may have changed
    };
    // The notices that arrived since the last call, without waiting.
    Notices Take();

private:
    int descriptor_ = -1;
};

} // namespace platform::store
