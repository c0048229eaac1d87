#pragma once

// Saves from several threads that arrive at about the same time share one transaction, and so
// one synced commit: a sync costs milliseconds, a save far less. The first caller to find no
// batch running becomes its leader and commits everything queued meanwhile (up to a limit); the
// others wait for it. Each caller's work stays all or nothing: a failing one is undone alone and
// the rest commit. Every caller returns only once the commit that holds its work is on disk.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace platform::store {

class Store;

class GroupCommit {
public:
    // A store opened for each batch, so that a store file replaced meanwhile is noticed.
    using OpenStore = std::function<std::shared_ptr<Store>()>;
    using Work = std::function<void(Store&)>;

    explicit GroupCommit(OpenStore open, std::size_t maxBatch = 64);

    // Runs `work` in a batch's transaction. Throws what the work threw (nothing of it is kept),
    // or what opening the store or committing threw (nothing of the batch is kept).
    void Run(Work work);

    // How many callers wait for a batch to take their work (for tests and monitoring).
    std::size_t Queued();

private:
    struct Job;
    void CommitBatch(const std::deque<std::shared_ptr<Job>>& batch);

    OpenStore open_;
    std::size_t maxBatch_;
    std::mutex mutex_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool leading_ = false;
};

} // namespace platform::store
