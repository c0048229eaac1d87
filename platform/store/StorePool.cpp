// Lends open stores of one file and takes them back for reuse, dropping them all when the file is
// replaced.

#include "platform/store/StorePool.h"

#include "platform/host/ServerFolder.h"
#include "platform/store/Store.h"

#include <sys/stat.h>

#include <optional>

namespace platform::store {

struct StorePool::IdleStore {
    std::shared_ptr<Store> store;
    Identity identity;
};

// What the pool and the stores it lends share: a lent store may come back after the pool is gone.
struct StorePool::Shared {
    std::filesystem::path file;
    Opener open;
    std::size_t keep;
    std::mutex mutex;
    std::vector<IdleStore> idle;

    std::optional<Identity> Current() const {
        struct stat status {};
        if (::stat(file.c_str(), &status) != 0)
            return std::nullopt;
        return Identity{status.st_dev, status.st_ino};
    }
};

StorePool::StorePool(std::filesystem::path storeFile, Opener open, std::size_t keep)
    : shared_(std::make_shared<Shared>()) {
    shared_->file = std::move(storeFile);
    shared_->open = std::move(open);
    shared_->keep = keep;
}

std::shared_ptr<StorePool> StorePool::Open(const host::ServerFolder& folder) {
    return std::make_shared<StorePool>(folder.StoreDir() / "store.db",
                                       [folder] { return Store::Open(folder); });
}

std::shared_ptr<Store> StorePool::Take() {
    const auto current = shared_->Current();
    IdleStore taken;
    {
        std::lock_guard lock(shared_->mutex);
        if (!current) {
            shared_->idle.clear();
        } else {
            std::erase_if(shared_->idle,
                          [&](const IdleStore& kept) { return !(kept.identity == *current); });
            if (!shared_->idle.empty()) {
                taken = std::move(shared_->idle.back());
                shared_->idle.pop_back();
            }
        }
    }
    if (!taken.store) {
        taken.store = shared_->open();
        // Kept only when the file it opened is the one seen before and after: a file replaced
        // in between could otherwise pass for the new one.
        const auto opened = shared_->Current();
        if (opened && current && *opened == *current)
            taken.identity = *opened;
        else
            return taken.store;
    }
    Store* store = taken.store.get();
    return std::shared_ptr<Store>(store,
                                  [shared = shared_, taken = std::move(taken)](Store*) mutable {
                                      if (taken.store->InTransaction())
                                          return;
                                      std::lock_guard lock(shared->mutex);
                                      if (shared->idle.size() < shared->keep)
                                          shared->idle.push_back(std::move(taken));
                                  });
}

std::size_t StorePool::Kept() {
    std::lock_guard lock(shared_->mutex);
    return shared_->idle.size();
}

} // namespace platform::store
