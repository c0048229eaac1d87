#pragma once

// The threads the sessions' blocking steps run on (a store save, a directory lookup): one for
// each session that may be admitted, so that a step waiting on a hung directory or a slow store
// waits alone.
//
// Work goes to the thread that became idle last. Boost.Asio's thread_pool wakes whichever of its
// threads has waited longest instead, so the steps of one busy session went round every thread
// of a pool sized for a hundred sessions: each step found a cold stack and cache and memory
// kept by another thread, which made an IMAP APPEND cost a fifth more. Threads are started as
// the work needs them, up to the limit; beyond it, work waits its turn. A thread that cannot be
// started (out of processes or memory) is logged, and the work waits for one that runs.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace server::net {

class WorkerPool {
public:
    explicit WorkerPool(std::size_t maxThreads);
    // Joins: the work posted runs first.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs `work` on a thread of the pool. It must not throw.
    void Post(std::function<void()> work);
    // Returns once all the work posted has run; its threads end. Work posted later starts them
    // again.
    void Join();

    // Threads started and not yet ended.
    std::size_t Threads() const;

private:
    struct Idle {
        std::condition_variable wake;
        bool woken = false;
    };
    void Work();

    const std::size_t maxThreads_;
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    std::vector<Idle*> idle_; // the thread idle last at the back
    std::vector<std::thread> threads_;
    bool joining_ = false;
    bool startFailing_ = false; // a thread could not be started, and none has been since
};

} // namespace server::net
