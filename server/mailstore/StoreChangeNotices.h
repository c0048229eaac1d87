#pragma once

// The store's change notices for the IMAP server: a thread of its own waits on the store
// directory's change files (platform/store/FolderChanges.h), written by every process that
// saves into the store (exhost smtp, lmtp, deliver, imap itself), and tells the listeners the
// change tokens of the folders that changed (ImapMailboxBackend::ChangeToken gives the same).

#include "server/imap/ChangeNotices.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform::store {
class FolderChangeWatch;
}

namespace server::mailstore {

class StoreChangeNotices : public imap::ChangeNotices {
public:
    // Fails (platform::Error) when the store directory cannot be watched.
    explicit StoreChangeNotices(const std::filesystem::path& storeDir);
    ~StoreChangeNotices() override;

    std::shared_ptr<void> Listen(Listener listener) override;

private:
    void Run();
    void Tell(const std::vector<std::string>& tokens);

    std::unique_ptr<platform::store::FolderChangeWatch> watch_;
    int stop_ = -1;    // an eventfd: readable once the thread is to end
    std::mutex mutex_; // held while listeners are called, and to change them
    std::map<std::uint64_t, Listener> listeners_;
    std::uint64_t next_ = 1;
    std::thread thread_;
};

} // namespace server::mailstore
