#pragma once

// A wait on one thread that another can cut short: a session's thread waiting for its login's
// turn is woken when its connection closes or the server stops.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace server::login {

class Interruption {
public:
    // Sleeps for `duration`; false, at once, when Interrupt() was called before or meanwhile.
    bool SleepFor(std::chrono::milliseconds duration);
    // From any thread: cuts the current sleep short and every later one.
    void Interrupt();
    bool Interrupted() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable woken_;
    bool interrupted_ = false;
};

} // namespace server::login
