#pragma once

// Recipients the directory has just resolved, kept for a short while. A sender that sends many
// messages to one address then costs the directory one search instead of one per message, the
// way MTAs keep their address lookups. Only addresses found are kept: a new address works at
// once, a removed one is still taken until its time is up. Safe to use from several threads.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace server::delivery {

class RecipientCache {
public:
    using Clock = std::chrono::steady_clock;

    // Nothing is kept when `keepFor` is zero. At most `capacity` addresses are kept; when that
    // many are, the expired ones go, and if none has expired, all of them.
    explicit RecipientCache(std::chrono::milliseconds keepFor, std::size_t capacity = 100'000);

    // The mailbox the address resolved to, if it did so less than `keepFor` ago. Addresses
    // compare without regard to ASCII case, as the directory compares them.
    std::optional<std::string> Find(const std::string& address,
                                    Clock::time_point now = Clock::now());
    void Remember(const std::string& address, const std::string& mailbox,
                  Clock::time_point now = Clock::now());

    bool Enabled() const { return keepFor_.count() > 0; }

private:
    struct Entry {
        std::string mailbox;
        Clock::time_point expires;
    };

    std::chrono::milliseconds keepFor_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

} // namespace server::delivery
