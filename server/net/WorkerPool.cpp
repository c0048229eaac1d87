#include "server/net/WorkerPool.h"

#include "server/log/ServerLog.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

namespace server::net {

WorkerPool::WorkerPool(std::size_t maxThreads) : maxThreads_(std::max<std::size_t>(maxThreads, 1)) {
}

WorkerPool::~WorkerPool() {
    Join();
}

void WorkerPool::Post(std::function<void()> work) {
    std::string failure;
    std::size_t threads = 0;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        if (!idle_.empty()) {
            Idle* last = idle_.back();
            idle_.pop_back();
            last->woken = true;
            last->wake.notify_one();
        } else if (threads_.size() < maxThreads_) {
            try {
                threads_.emplace_back([this] { Work(); });
                startFailing_ = false;
            } catch (const std::system_error& error) {
                // Out of threads or memory for now: the work waits for a thread that runs, and
                // the next Post tries again. Told once until a thread starts.
                if (!std::exchange(startFailing_, true))
                    failure = error.what();
            }
        }
        // Otherwise every thread is busy, and the first to finish takes the work.
        threads = threads_.size();
    }
    if (!failure.empty())
        log::Event(log::Severity::Error, "thread-start-failed")
            .Field("reason", failure)
            .Field("threads", threads);
}

void WorkerPool::Join() {
    // Work that runs meanwhile may post more, which may start a thread: joined in the next round.
    for (;;) {
        std::vector<std::thread> ending;
        {
            const std::lock_guard lock(mutex_);
            if (threads_.empty()) {
                joining_ = false;
                return;
            }
            joining_ = true;
            for (Idle* idle : idle_) {
                idle->woken = true;
                idle->wake.notify_one();
            }
            idle_.clear();
            ending.swap(threads_);
        }
        for (auto& thread : ending)
            thread.join();
    }
}

std::size_t WorkerPool::Threads() const {
    const std::lock_guard lock(mutex_);
    return threads_.size();
}

void WorkerPool::Work() {
    Idle self;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!queue_.empty()) {
            auto work = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            work();
            work = nullptr; // what it holds goes before the next wait
            lock.lock();
            continue;
        }
        if (joining_)
            return;
        idle_.push_back(&self);
        self.wake.wait(lock, [&] { return self.woken; });
        self.woken = false;
    }
}

} // namespace server::net
