#include "server/login/Interruption.h"

namespace server::login {

bool Interruption::SleepFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !woken_.wait_for(lock, duration, [this] { return interrupted_; });
}

void Interruption::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    woken_.notify_all();
}

bool Interruption::Interrupted() const {
    std::lock_guard lock(mutex_);
    return interrupted_;
}

} // namespace server::login
