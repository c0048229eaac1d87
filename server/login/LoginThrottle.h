#pragma once

// How fast passwords may be tried against this server, across all its connections: a front asks
// before it checks a password and checks it only when the throttle says it is this try's turn, so
// a client that gives up waiting learns nothing from the silence.
//
// Tries are counted per client address (an IPv6 address by its /64, as one host usually holds a
// whole /64) and per account (by its name without regard to letter case, as logins look names
// up; once the front has said which account a name stands for, under that account's), and
// every try counts until a login from that address for that account succeeds, so tries still
// being checked on other connections count too. Rules:
// - An address's first `freeTries` go at once (a mistyped password, a mail client logging in on
//   a few connections at the same time). After that its tries are let through one at a time,
//   the pause doubling from an eighth of 60 s / `triesPerMinute` up to that, however many
//   connections they come on: an address that keeps failing gets `triesPerMinute` tries a minute.
// - An account's tries are paced the same way, all addresses together, but only for an address
//   that has used up its free tries on that account without success: guessing spread over many
//   addresses is slowed, and the owner is not, logging in from anywhere else or mistyping once
//   or twice, whatever is done to their account meanwhile.
// - A success clears what that address tried for that account, from both counts; what it tried
//   for other accounts stays (logging in to one's own account between guesses at another's
//   gains nothing).
// - What an address, an account or the pair of both tried is forgotten `window` after its last
//   try (a try told to wait counts: an address that keeps asking is remembered); each table
//   keeps at most `maxEntries`, the least recently tried dropped first.
//
// Thread-safe. Knows no protocol: IMAP and SMTP AUTH use it alike.

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace server::login {

struct LoginThrottleSettings {
    int triesPerMinute = 20;
    int freeTries = 3;
    std::chrono::milliseconds window = std::chrono::minutes(1);
    std::size_t maxEntries = 10000;
};

// Either the try may be checked now (and is counted), or the front asks again after `wait`.
struct LoginTurn {
    bool now = false;
    std::chrono::milliseconds wait{0};
};

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    // `clock` is for tests; by default the steady clock.
    explicit LoginThrottle(LoginThrottleSettings settings = {},
                           std::function<Clock::time_point()> clock = Clock::now);

    // Whether a try from `client` (an IP address as text, or any other name a front gives its
    // clients) to log in as `user` may be checked now. A "now" counts the try as failed until
    // Succeeded() says otherwise; a wait changes nothing.
    LoginTurn Try(std::string_view client, std::string_view user);
    // The try from `client` as `user` had the right password.
    void Succeeded(std::string_view client, std::string_view user);
    // The directory says that `user` names the account `account` (also when the password was
    // wrong): that try, and later ones under that name, count as the account's, so that
    // guessing at one account under each of its names (its logon name, each address) is paced
    // as guessing at one account.
    void Resolved(std::string_view client, std::string_view user, std::string_view account);
    // What the check of a try let through found, as the fronts report it: the account the name
    // stands for (empty when none) and whether the password was right. Resolved, then
    // Succeeded when it was: in that order, so that the success clears the account's tries.
    void Checked(std::string_view client, std::string_view user, std::string_view account,
                 bool accepted);

    // The pause before the next try of an address or account that has `tries` counted.
    std::chrono::milliseconds PauseAfter(int tries) const;

private:
    struct Tries {
        int count = 0;
        Clock::time_point lastGo{}; // the last try let through
        Clock::time_point seen{};   // the last try, let through or told to wait
    };
    // Entries by key, the most recently tried first, bounded and forgetting.
    class Table {
    public:
        Tries* Find(const std::string& key);
        // The entry, made if missing (dropping the least recently seen beyond `maxEntries`),
        // moved to the front as seen at `now`.
        Tries& Touch(const std::string& key, Clock::time_point now, std::size_t maxEntries);
        // The entry, if there is one, moved to the front as seen at `now`.
        void Refresh(const std::string& key, Clock::time_point now);
        void Erase(const std::string& key);
        void ForgetBefore(Clock::time_point oldest);

    private:
        using Order = std::list<std::pair<std::string, Tries>>;
        Order order_;
        std::unordered_map<std::string, Order::iterator> index_;
    };

    // When the next try of an entry may go.
    Clock::time_point NextTurn(const Tries& tries) const;
    // The key of the account `user` names, as far as Resolved has said; else of the name.
    std::string AccountOf(std::string_view user) const;
    // What `from` counted is counted under `to` from now on.
    void Merge(Table& table, const std::string& from, const std::string& to, Clock::time_point now);

    LoginThrottleSettings settings_;
    std::function<Clock::time_point()> clock_;
    std::mutex mutex_;
    Table addresses_;
    Table accounts_;
    Table pairs_; // address and account: this address tried this account
    // Names resolved to another account's key. Bounded: when full it starts again, which costs
    // each name one try counted apart.
    std::unordered_map<std::string, std::string> names_;
};

// The key an address is counted under: IPv4 as it is (also when written IPv4-mapped), IPv6 by
// its /64 ("2001:db8:1:2::/64"); any other name as it is.
std::string AddressKey(std::string_view client);

} // namespace server::login
