#pragma once

// Work on several threads at once, as concurrent sessions, deliveries or lookups do it.

#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace integration {

// Runs `work(thread)` on `threads` threads at once; returns the failures they reported (what
// they answered other than "", or threw), in no particular order.
inline std::vector<std::string> AtOnce(int threads, const std::function<std::string(int)>& work) {
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> running;
    for (int thread = 0; thread < threads; ++thread)
        running.emplace_back([&, thread] {
            std::string failure;
            try {
                failure = work(thread);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            if (!failure.empty()) {
                const std::lock_guard guard(lock);
                failures.push_back(failure);
            }
        });
    for (auto& each : running)
        each.join();
    return failures;
}

} // namespace integration
