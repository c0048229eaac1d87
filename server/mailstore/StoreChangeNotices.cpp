// The store's change notices, heard on a thread of their own (StoreChangeNotices.h).

#include "server/mailstore/StoreChangeNotices.h"

#include "platform/core/Error.h"
#include "platform/store/FolderChanges.h"
#include "server/log/ServerLog.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace server::mailstore {

StoreChangeNotices::StoreChangeNotices(const std::filesystem::path& storeDir)
    : watch_(std::make_unique<platform::store::FolderChangeWatch>(storeDir)) {
    stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0)
        throw platform::Error(platform::hr::E_FAIL,
                              std::string("Cannot make an eventfd: ") + std::strerror(errno));
    thread_ = std::thread([this] { Run(); });
}

StoreChangeNotices::~StoreChangeNotices() {
    const std::uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) != sizeof one) {
        // An eventfd takes a write unless its counter is full, which one write never makes it.
    }
    thread_.join();
    ::close(stop_);
}

std::shared_ptr<void> StoreChangeNotices::Listen(Listener listener) {
    std::lock_guard lock(mutex_);
    const auto id = next_++;
    listeners_.emplace(id, std::move(listener));
    // Released, it takes the listener out; the lock waits for a call under way.
    return std::shared_ptr<void>(nullptr, [this, id](void*) {
        std::lock_guard lock(mutex_);
        listeners_.erase(id);
    });
}

void StoreChangeNotices::Run() {
    pollfd waits[2] = {{watch_->Descriptor(), POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Idling clients still learn of changes, at their next look.
            log::Event(log::Severity::Error, "change-notices-stopped")
                .Field("error", std::strerror(errno));
            return;
        }
        if (waits[1].revents != 0)
            return;
        if (waits[0].revents == 0)
            continue;
        auto notices = watch_->Take();
        if (notices.overflowed)
            notices.names.assign(1, std::string()); // any folder may have changed
        if (!notices.names.empty())
            Tell(notices.names);
    }
}

void StoreChangeNotices::Tell(const std::vector<std::string>& tokens) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, listener] : listeners_)
        listener(tokens);
}

} // namespace server::mailstore
