// Batches concurrent saves into one transaction: the leader runs every queued job in a savepoint of
// its own, undoes the failing ones alone, commits, and wakes the others.

#include "platform/store/GroupCommit.h"

#include "platform/store/Store.h"

namespace platform::store {

struct GroupCommit::Job {
    Work work;
    std::exception_ptr failure;
    bool done = false;
    // Each waiting caller is woken alone: when its work is committed, or when it is first in the
    // queue and the batch before it has ended (it leads the next one).
    std::condition_variable wake;
};

GroupCommit::GroupCommit(OpenStore open, std::size_t maxBatch)
    : open_(std::move(open)), maxBatch_(maxBatch == 0 ? 1 : maxBatch) {
}

void GroupCommit::Run(Work work) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    std::unique_lock lock(mutex_);
    queue_.push_back(job);
    while (!job->done) {
        if (leading_) {
            job->wake.wait(lock);
            continue;
        }
        leading_ = true;
        std::deque<std::shared_ptr<Job>> batch;
        while (!queue_.empty() && batch.size() < maxBatch_) {
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        lock.unlock();
        CommitBatch(batch);
        lock.lock();
        leading_ = false;
        for (auto& finished : batch) {
            finished->done = true;
            finished->wake.notify_one();
        }
        if (!queue_.empty())
            queue_.front()->wake.notify_one();
    }
    if (job->failure)
        std::rethrow_exception(job->failure);
}

std::size_t GroupCommit::Queued() {
    std::lock_guard lock(mutex_);
    return queue_.size();
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
