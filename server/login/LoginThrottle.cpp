// The login throttle's counts: three bounded tables (addresses, accounts, the pairs of both),
// each ordered by its entries' last try so that forgetting and dropping take the oldest first,
// and the names known to stand for another account's.

#include "server/login/LoginThrottle.h"

#include "platform/core/Text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>

namespace server::login {

namespace {

// Longer names are no account's; they are counted by their beginning, so that a client cannot
// make the tables hold megabytes of names.
constexpr std::size_t kMaxNameKey = 256;

std::string AccountKey(std::string_view user) {
    return platform::text::CaseFoldedKey(user.substr(0, kMaxNameKey));
}

// An address key holds no NUL, so the pair's key names both unambiguously.
std::string PairKey(const std::string& address, const std::string& account) {
    return address + '\0' + account;
}

} // namespace

std::string AddressKey(std::string_view client) {
    const std::string text(client.substr(0, 64));
    std::array<unsigned char, 16> bytes{};
    char written[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1)
        return inet_ntop(AF_INET, bytes.data(), written, sizeof written);
    if (inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1)
        return std::string(client);
    constexpr std::array<unsigned char, 12> kMapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(kMapped.begin(), kMapped.end(), bytes.begin()))
        return inet_ntop(AF_INET, bytes.data() + 12, written, sizeof written);
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return std::string(inet_ntop(AF_INET6, bytes.data(), written, sizeof written)) + "/64";
}

LoginThrottle::Tries* LoginThrottle::Table::Find(const std::string& key) {
    const auto found = index_.find(key);
    return found == index_.end() ? nullptr : &found->second->second;
}

LoginThrottle::Tries& LoginThrottle::Table::Touch(const std::string& key, Clock::time_point now,
                                                  std::size_t maxEntries) {
    auto found = index_.find(key);
    if (found != index_.end()) {
        order_.splice(order_.begin(), order_, found->second);
    } else {
        order_.emplace_front(key, Tries{});
        index_.emplace(key, order_.begin());
        while (order_.size() > std::max<std::size_t>(maxEntries, 1)) {
            index_.erase(order_.back().first);
            order_.pop_back();
        }
    }
    auto& tries = order_.front().second;
    tries.seen = now;
    return tries;
}

void LoginThrottle::Table::Refresh(const std::string& key, Clock::time_point now) {
    const auto found = index_.find(key);
    if (found == index_.end())
        return;
    order_.splice(order_.begin(), order_, found->second);
    found->second->second.seen = now;
}

void LoginThrottle::Table::Erase(const std::string& key) {
    const auto found = index_.find(key);
    if (found == index_.end())
        return;
    order_.erase(found->second);
    index_.erase(found);
}

void LoginThrottle::Table::ForgetBefore(Clock::time_point oldest) {
    while (!order_.empty() && order_.back().second.seen < oldest) {
        index_.erase(order_.back().first);
        order_.pop_back();
    }
}

LoginThrottle::LoginThrottle(LoginThrottleSettings settings,
                             std::function<Clock::time_point()> clock)
    : settings_(settings), clock_(std::move(clock)) {
    settings_.triesPerMinute = std::max(settings_.triesPerMinute, 1);
    settings_.freeTries = std::max(settings_.freeTries, 0);
}

std::chrono::milliseconds LoginThrottle::PauseAfter(int tries) const {
    if (tries < settings_.freeTries)
        return std::chrono::milliseconds(0);
    const auto full = std::chrono::milliseconds(std::chrono::minutes(1)) / settings_.triesPerMinute;
    // An eighth of the full pause, a quarter, a half, then the full one.
    const int halvings = std::max(0, 3 - (tries - settings_.freeTries));
    return full / (1 << halvings);
}

LoginThrottle::Clock::time_point LoginThrottle::NextTurn(const Tries& tries) const {
    return tries.lastGo + PauseAfter(tries.count);
}

std::string LoginThrottle::AccountOf(std::string_view user) const {
    auto key = AccountKey(user);
    const auto resolved = names_.find(key);
    return resolved == names_.end() ? key : resolved->second;
}

LoginTurn LoginThrottle::Try(std::string_view client, std::string_view user) {
    const auto address = AddressKey(client);
    std::lock_guard lock(mutex_);
    const auto account = AccountOf(user);
    const auto pair = PairKey(address, account);
    const auto now = clock_();
    const auto oldest = now - settings_.window;
    addresses_.ForgetBefore(oldest);
    accounts_.ForgetBefore(oldest);
    pairs_.ForgetBefore(oldest);

    auto turn = now;
    if (const auto* tries = addresses_.Find(address))
        turn = std::max(turn, NextTurn(*tries));
    if (const auto* tried = pairs_.Find(pair); tried && tried->count >= settings_.freeTries)
        if (const auto* tries = accounts_.Find(account))
            turn = std::max(turn, NextTurn(*tries));
    const std::pair<Table*, const std::string*> entries[] = {
        {&addresses_, &address}, {&accounts_, &account}, {&pairs_, &pair}};
    if (turn > now) {
        // Still trying: not forgotten while it waits.
        for (const auto& [table, key] : entries)
            table->Refresh(*key, now);
        // Rounded up, so that asking again after the wait finds the turn come.
        return {false, std::chrono::ceil<std::chrono::milliseconds>(turn - now)};
    }
    for (const auto& [table, key] : entries) {
        auto& tries = table->Touch(*key, now, settings_.maxEntries);
        ++tries.count;
        tries.lastGo = now;
    }
    return {true, std::chrono::milliseconds(0)};
}

void LoginThrottle::Succeeded(std::string_view client, std::string_view user) {
    const auto address = AddressKey(client);
    std::lock_guard lock(mutex_);
    const auto account = AccountOf(user);
    const auto pair = PairKey(address, account);
    const auto* tried = pairs_.Find(pair);
    if (!tried)
        return;
    const int count = tried->count;
    pairs_.Erase(pair);
    for (auto [table, key] : {std::pair{&addresses_, &address}, std::pair{&accounts_, &account}}) {
        if (auto* tries = table->Find(*key)) {
            tries->count = std::max(0, tries->count - count);
            if (tries->count == 0)
                table->Erase(*key);
        }
    }
}

void LoginThrottle::Checked(std::string_view client, std::string_view user,
                            std::string_view account, bool accepted) {
    Resolved(client, user, account);
    if (accepted)
        Succeeded(client, user);
}

void LoginThrottle::Merge(Table& table, const std::string& from, const std::string& to,
                          Clock::time_point now) {
    const auto* source = table.Find(from);
    if (!source)
        return;
    const auto moved = *source;
    table.Erase(from);
    auto& into = table.Touch(to, now, settings_.maxEntries);
    into.count += moved.count;
    into.lastGo = std::max(into.lastGo, moved.lastGo);
}

void LoginThrottle::Resolved(std::string_view client, std::string_view user,
                             std::string_view account) {
    const auto name = AccountKey(user);
    const auto target = AccountKey(account);
    if (target.empty() || name == target)
        return;
    const auto address = AddressKey(client);
    std::lock_guard lock(mutex_);
    const auto known = names_.find(name);
    if (known != names_.end()) {
        // Its tries were counted as that account's already (the directory may since have
        // given the name to another).
        known->second = target;
        return;
    }
    if (names_.size() >= std::max<std::size_t>(settings_.maxEntries, 1))
        names_.clear();
    names_.emplace(name, target);
    const auto now = clock_();
    Merge(accounts_, name, target, now);
    Merge(pairs_, PairKey(address, name), PairKey(address, target), now);
}

} // namespace server::login
