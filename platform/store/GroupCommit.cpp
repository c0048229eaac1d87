// Batches concurrent saves into one transaction: the group's thread runs every queued job in a
// savepoint of its own, undoes the failing ones alone, commits, and wakes their callers.

#include "platform/store/GroupCommit.h"

#include "platform/store/Store.h"

namespace platform::store {

struct GroupCommit::Job {
    Work work;
    std::exception_ptr failure;
    bool done = false;
    // Each waiting caller is woken alone, when its work is committed.
    std::condition_variable wake;
};

GroupCommit::GroupCommit(OpenStore open, std::size_t maxBatch)
    : open_(std::move(open)), maxBatch_(maxBatch == 0 ? 1 : maxBatch) {
}

GroupCommit::~GroupCommit() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_one();
    if (writer_.joinable())
        writer_.join();
}

void GroupCommit::Run(Work work) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    std::unique_lock lock(mutex_);
    if (!writer_.joinable())
        writer_ = std::thread([this] { WriteBatches(); });
    queue_.push_back(job);
    // Woken without the lock, so that an idle writer does not wake only to wait for it.
    lock.unlock();
    queued_.notify_one();
    lock.lock();
    job->wake.wait(lock, [&] { return job->done; });
    if (job->failure)
        std::rethrow_exception(job->failure);
}

std::size_t GroupCommit::Queued() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

// One thread writes every batch: the next one starts the moment the last is on disk, with no
// caller to wake first, and the batch store is used from this thread only.
void GroupCommit::WriteBatches() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (queue_.empty()) {
            if (stopping_)
                return;
            queued_.wait(lock);
        }
        std::deque<std::shared_ptr<Job>> batch;
        while (!queue_.empty() && batch.size() < maxBatch_) {
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        lock.unlock();
        CommitBatch(batch);
        lock.lock();
        for (auto& finished : batch)
            finished->done = true;
        lock.unlock();
        // The batch holds each job, so a caller that returns at once leaves its wake intact.
        for (auto& finished : batch)
            finished->wake.notify_one();
        lock.lock();
    }
}

void GroupCommit::CommitBatch(const std::deque<std::shared_ptr<Job>>& batch) {
    auto failAll = [&](std::exception_ptr failure) {
        for (auto& job : batch)
            if (!job->failure)
                job->failure = failure;
    };
    std::shared_ptr<Store> store;
    try {
        store = open_();
        store->BeginTransaction();
    } catch (...) {
        failAll(std::current_exception());
        return;
    }
    for (auto& job : batch) {
        try {
            store->RunUndoable([&] { job->work(*store); });
        } catch (...) {
            job->failure = std::current_exception();
            if (!store->InTransaction()) {
                // The database ended the whole transaction (a full disk can): what the batch
                // saved before is gone as well.
                failAll(job->failure);
                return;
            }
        }
    }
    try {
        store->CommitTransaction();
    } catch (...) {
        failAll(std::current_exception());
        if (store->InTransaction()) {
            try {
                store->RollbackTransaction();
            } catch (...) {
                // The store is released next, which ends the transaction in any case.
            }
        }
    }
}

} // namespace platform::store
