#pragma once

// Saves from several threads that arrive at about the same time share one transaction, and so
// one synced commit: a sync costs milliseconds, a save far less. A thread of the group's own
// writes the batches one after another, each with everything queued while the one before it was
// written (up to a limit); the callers wait. Each caller's work stays all or nothing: a failing
// one is undone alone and the rest commit. Every caller returns only once the commit that holds
// its work is on disk.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform::store {

class Store;

class GroupCommit {
public:
    // A store opened for each batch, so that a store file replaced meanwhile is noticed.
    using OpenStore = std::function<std::shared_ptr<Store>()>;
    using Work = std::function<void(Store&)>;

    explicit GroupCommit(OpenStore open, std::size_t maxBatch = 64);
    // Waits for the batch being written; no caller may still be in Run.
    ~GroupCommit();
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // Runs `work` in a batch's transaction on the group's thread. Throws what the work threw
    // (nothing of it is kept), or what opening the store or committing threw (nothing of the
    // batch is kept).
    void Run(Work work);

    // How many callers wait for a batch to take their work (for tests and monitoring).
    std::size_t Queued();

private:
    struct Job;
    void WriteBatches();
    void CommitBatch(const std::deque<std::shared_ptr<Job>>& batch);

    OpenStore open_;
    std::size_t maxBatch_;
    std::mutex mutex_;
    std::deque<std::shared_ptr<Job>> queue_;
    // The writer waits here while the queue is empty.
    std::condition_variable queued_;
    bool stopping_ = false;
    // Started by the first Run.
    std::thread writer_;
};

} // namespace platform::store
