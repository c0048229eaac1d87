// Keeps the mailbox each recently resolved address names, with the time it stops counting.

#include "server/delivery/RecipientCache.h"

#include "platform/core/Text.h"

#include <iterator>

namespace server::delivery {

RecipientCache::RecipientCache(std::chrono::milliseconds keepFor, std::size_t capacity)
    : keepFor_(keepFor), capacity_(capacity == 0 ? 1 : capacity) {
}

std::optional<std::string> RecipientCache::Find(const std::string& address, Clock::time_point now) {
    if (!Enabled())
        return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(platform::text::AsciiLower(address));
    if (found == entries_.end())
        return std::nullopt;
    if (found->second.expires <= now) {
        entries_.erase(found);
        return std::nullopt;
    }
    return found->second.mailbox;
}

void RecipientCache::Remember(const std::string& address, const std::string& mailbox,
                              Clock::time_point now) {
    if (!Enabled())
        return;
    std::lock_guard lock(mutex_);
    auto key = platform::text::AsciiLower(address);
    if (entries_.size() >= capacity_ && !entries_.count(key)) {
        for (auto entry = entries_.begin(); entry != entries_.end();)
            entry = entry->second.expires <= now ? entries_.erase(entry) : std::next(entry);
        // Still full: everything is recent. Starting over costs each address one more lookup.
        if (entries_.size() >= capacity_)
            entries_.clear();
    }
    entries_.insert_or_assign(std::move(key), Entry{mailbox, now + keepFor_});
}

} // namespace server::delivery
