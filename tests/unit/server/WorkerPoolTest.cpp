// The pool the sessions' blocking steps run on: one session's steps stay on one thread, a step
// that blocks holds up no other while there is room, threads are bounded, and joining runs what
// was posted.

#include "server/net/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using server::net::WorkerPool;

namespace {

// Runs `work` on the pool and waits for it, as a session waits for its step.
template <class Work> auto Step(WorkerPool& pool, Work work) {
    std::promise<decltype(work())> done;
    pool.Post([&] { done.set_value(work()); });
    return done.get_future().get();
}

// Occupies `count` threads of the pool at once, then lets them all go idle.
void StartThreads(WorkerPool& pool, int count) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> running = 0;
    for (int i = 0; i < count; ++i)
        pool.Post([&running, released] {
            ++running;
            released.wait();
            --running;
        });
    while (running < count)
        std::this_thread::yield();
    release.set_value();
    while (running > 0)
        std::this_thread::yield();
}

TEST(WorkerPoolTest, OneSessionsStepsStayOnTheThreadIdleLast) {
    WorkerPool pool(100);
    StartThreads(pool, 20);
    ASSERT_EQ(pool.Threads(), 20u);
    // Steps come as a client's commands do, a moment apart: the thread of the last one has gone
    // idle by then. A thread that is slow to (under a loaded test run) may let another take one.
    std::set<std::thread::id> ranOn;
    for (int step = 0; step < 53; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto thread = Step(pool, [] { return std::this_thread::get_id(); });
        if (step >= 3)
            ranOn.insert(thread);
    }
    EXPECT_LE(ranOn.size(), 3u); // going round the pool: 20
    EXPECT_EQ(pool.Threads(), 20u);
}

TEST(WorkerPoolTest, AStepThatBlocksHoldsUpNoOtherWhileThereIsRoom) {
    WorkerPool pool(2);
    std::promise<void> release;
    pool.Post([released = release.get_future().share()] { released.wait(); });
    EXPECT_EQ(Step(pool, [] { return 7; }), 7);
    release.set_value();
}

TEST(WorkerPoolTest, ThreadsAreBoundedAndWorkBeyondThemWaitsItsTurn) {
    WorkerPool pool(3);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> running = 0;
    std::atomic<int> most = 0;
    std::atomic<int> finished = 0;
    for (int i = 0; i < 12; ++i)
        pool.Post([&, released] {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            released.wait();
            --running;
            ++finished;
        });
    EXPECT_EQ(pool.Threads(), 3u);
    while (running < 3)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(finished, 0);
    EXPECT_EQ(most, 3);
    release.set_value();
    pool.Join();
    EXPECT_EQ(finished, 12);
    EXPECT_EQ(most, 3);
    EXPECT_EQ(pool.Threads(), 0u);
}

TEST(WorkerPoolTest, JoiningRunsWhatWasPostedAndWhatThatPosts) {
    WorkerPool pool(1);
    std::vector<int> ran;
    std::mutex ranMutex;
    auto record = [&](int what) {
        const std::lock_guard lock(ranMutex);
        ran.push_back(what);
    };
    for (int i = 0; i < 5; ++i)
        pool.Post([&, i] {
            record(i);
            if (i == 4)
                pool.Post([&] { record(5); });
        });
    pool.Join();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    // The pool works on after a join.
    EXPECT_EQ(Step(pool, [] { return 9; }), 9);
}

} // namespace
