#pragma once

// Open stores of one store file, kept for reuse by servers that save and look up all the time:
// opening a store (the database, its settings, its schema check) costs more than a delivery's
// own queries. A store file replaced or removed since a kept store was opened is noticed by its
// identity (device and inode), and every store kept for the old file is dropped.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform::host {
class ServerFolder;
}

namespace platform::store {

class Store;

class StorePool {
public:
    using Opener = std::function<std::shared_ptr<Store>()>;

    // `storeFile` is the database file that `open` opens.
    StorePool(std::filesystem::path storeFile, Opener open, std::size_t keep = 16);
    // A new pool of the store of a server folder; it shares nothing with other pools of it.
    static std::shared_ptr<StorePool> Open(const host::ServerFolder& folder);

    // A store for the caller alone until the last copy of the pointer is released; it goes back
    // to the pool then, unless it is inside a transaction or its file was replaced meanwhile.
    std::shared_ptr<Store> Take();

    // How many stores wait for reuse (for tests).
    std::size_t Kept();

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity&) const = default;
    };
    struct IdleStore;
    struct Shared;

    std::shared_ptr<Shared> shared_;
};

} // namespace platform::store
