// The login throttle on a clock the tests move: the pauses an address and an account get as
// their tries fail, the rate one address gets however many connections it uses, that the owner
// elsewhere is not held up, what a success clears, forgetting, and the bound on its memory.

#include "server/login/LoginThrottle.h"

#include <gtest/gtest.h>

#include <queue>
#include <vector>

namespace {

using namespace server::login;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = LoginThrottle::Clock;

class LoginThrottleTest : public ::testing::Test {
protected:
    LoginThrottle Make(LoginThrottleSettings settings = {}) {
        return LoginThrottle(settings, [this] { return now; });
    }
    // Tries as soon as the throttle allows; the wait it asked for first.
    milliseconds TryWhenAllowed(LoginThrottle& throttle, const std::string& client,
                                const std::string& user) {
        const auto first = throttle.Try(client, user);
        if (first.now)
            return milliseconds(0);
        now += first.wait;
        EXPECT_TRUE(throttle.Try(client, user).now) << client << " " << user;
        return first.wait;
    }
    // The goes `clients` get in `duration` when each asks again as soon as it is told, and once
    // more 10 ms after each check (its answer, then the next guess). Each client takes `names`
    // in turn, all of them names of the first's account, as a check then says.
    std::vector<Clock::time_point> Attack(LoginThrottle& throttle,
                                          const std::vector<std::string>& clients,
                                          const std::vector<std::string>& names,
                                          Clock::duration duration) {
        using Ask = std::pair<Clock::time_point, std::size_t>;
        std::priority_queue<Ask, std::vector<Ask>, std::greater<>> asks;
        for (std::size_t i = 0; i < clients.size(); ++i)
            asks.push({now, i});
        const auto end = now + duration;
        std::vector<Clock::time_point> goes;
        std::vector<std::size_t> checked(clients.size());
        while (!asks.empty() && asks.top().first < end) {
            const auto [at, who] = asks.top();
            asks.pop();
            now = at;
            const auto& user = names[checked[who] % names.size()];
            const auto turn = throttle.Try(clients[who], user);
            if (turn.now) {
                goes.push_back(now);
                throttle.Resolved(clients[who], user, names.front());
                ++checked[who];
            }
            asks.push({now + (turn.now ? milliseconds(10) : turn.wait), who});
        }
        now = end;
        return goes;
    }

    Clock::time_point now = Clock::time_point(std::chrono::hours(1000));
};

TEST_F(LoginThrottleTest, AnAddressPausesLongerAfterEachFailureUpToTheRate) {
    // Failures so far -> the wait before the next try (20 a minute: 3 s at most).
    const std::pair<int, milliseconds> rows[] = {
        {0, milliseconds(0)},    {1, milliseconds(0)},    {2, milliseconds(0)},
        {3, milliseconds(375)},  {4, milliseconds(750)},  {5, milliseconds(1500)},
        {6, milliseconds(3000)}, {7, milliseconds(3000)}, {8, milliseconds(3000)},
    };
    auto throttle = Make();
    for (const auto& [failures, wait] : rows)
        EXPECT_EQ(TryWhenAllowed(throttle, "192.0.2.7", "alice"), wait) << failures;
    EXPECT_EQ(throttle.PauseAfter(1000), milliseconds(3000));

    // Other rates keep the shape: an eighth, a quarter, a half, then the whole minute's share.
    auto fast = Make({.triesPerMinute = 600, .freeTries = 1});
    const milliseconds fastWaits[] = {milliseconds(0),  milliseconds(12),  milliseconds(25),
                                      milliseconds(50), milliseconds(100), milliseconds(100)};
    for (const auto wait : fastWaits)
        EXPECT_EQ(TryWhenAllowed(fast, "192.0.2.8", "bob"), wait);
}

TEST_F(LoginThrottleTest, OneAddressGetsTheRateHoweverManyConnectionsItUses) {
    auto throttle = Make();
    const std::vector<std::string> connections(32, "192.0.2.7");
    const auto start = now;
    const auto goes = Attack(throttle, connections, {"alice"}, std::chrono::minutes(10));
    // All 32 ask at once, none answered yet: three at once, three with growing pauses (2.6 s
    // together), then one every 3 s.
    EXPECT_GE(goes.size(), 200u);
    EXPECT_LE(goes.size(), 206u);
    for (std::size_t i = 0; i < goes.size(); ++i) {
        std::size_t inMinute = 0;
        while (i + inMinute < goes.size() && goes[i + inMinute] < goes[i] + std::chrono::minutes(1))
            ++inMinute;
        EXPECT_LE(inMinute, goes[i] - start < seconds(10) ? 26u : 21u) << i;
    }
}

TEST_F(LoginThrottleTest, TheOwnerFromAnotherAddressGetsInAtOnceDuringAnAttack) {
    auto throttle = Make();
    Attack(throttle, std::vector<std::string>(32, "192.0.2.7"), {"alice"}, std::chrono::minutes(2));
    EXPECT_FALSE(throttle.Try("192.0.2.7", "alice").now);
    ASSERT_TRUE(throttle.Try("198.51.100.1", "alice").now);
    throttle.Succeeded("198.51.100.1", "alice");
    EXPECT_TRUE(throttle.Try("198.51.100.1", "alice").now); // a second session of her client

    // Mistyping once or twice from another address does not hold her up either; after that she
    // waits for the account's turn, but never long.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(throttle.Try("203.0.113.9", "alice").now) << i; // wrong password: no success
    const auto turn = throttle.Try("203.0.113.9", "alice");
    EXPECT_FALSE(turn.now);
    EXPECT_GT(turn.wait, milliseconds(375)) << "the account's pause, not her address's";
    EXPECT_LE(turn.wait, milliseconds(3000));
}

TEST_F(LoginThrottleTest, GuessingSpreadOverManyAddressesIsPacedPerAccount) {
    std::vector<std::string> addresses;
    for (int i = 0; i < 100; ++i)
        addresses.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250));
    // Under her logon name alone, or under each of her names in turn: her account's pace.
    for (const auto& names : std::vector<std::vector<std::string>>{
             {"alice"}, {"alice", "alice@example.com", "a.smith@example.com"}}) {
        SCOPED_TRACE(names.back());
        auto throttle = Make();
        const auto goes = Attack(throttle, addresses, names, std::chrono::minutes(10));
        // Each address's free tries, then the account's 20 a minute (alone, 100 addresses
        // would get 20,000).
        EXPECT_LE(goes.size(), 100u * 3 + 200 + 6);
        EXPECT_GE(goes.size(), 100u * 3 + 190);
    }
    auto throttle = Make();
    Attack(throttle, addresses, {"alice"}, std::chrono::minutes(10));

    // Only addresses that used up their free tries on the account are paced with it.
    EXPECT_TRUE(throttle.Try("192.0.2.200", "alice").now);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(throttle.Try("192.0.2.201", "bob").now);
    EXPECT_FALSE(throttle.Try("192.0.2.201", "bob").now);
    EXPECT_TRUE(throttle.Try("192.0.2.200", "alice").now) << "its second try";
    EXPECT_TRUE(throttle.Try("192.0.2.200", "alice").now) << "its third try";
    EXPECT_EQ(throttle.Try("192.0.2.200", "alice").wait, milliseconds(3000));
}

TEST_F(LoginThrottleTest, ASuccessClearsWhatThatAddressTriedForThatAccountOnly) {
    auto throttle = Make();
    for (int i = 0; i < 10; ++i)
        TryWhenAllowed(throttle, "192.0.2.7", "alice");
    EXPECT_FALSE(throttle.Try("192.0.2.7", "alice").now);
    ASSERT_EQ(TryWhenAllowed(throttle, "192.0.2.7", "alice"), milliseconds(3000));
    throttle.Succeeded("192.0.2.7", "alice");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(throttle.Try("192.0.2.7", "alice").now) << i;

    // Logging in to one's own account between guesses at another's clears nothing of those.
    auto other = Make();
    for (int i = 0; i < 10; ++i)
        TryWhenAllowed(other, "192.0.2.7", "bob");
    ASSERT_TRUE(TryWhenAllowed(other, "192.0.2.7", "mallory") > milliseconds(0));
    other.Succeeded("192.0.2.7", "mallory");
    EXPECT_FALSE(other.Try("192.0.2.7", "bob").now);
    EXPECT_FALSE(other.Try("192.0.2.7", "mallory").now);
}

TEST_F(LoginThrottleTest, TriesAreForgottenAWindowAfterTheLast) {
    auto throttle = Make({.window = seconds(60)});
    for (int i = 0; i < 8; ++i)
        TryWhenAllowed(throttle, "192.0.2.7", "alice");
    // Within the window the count stays: each try is followed by the full pause.
    now += seconds(59);
    EXPECT_TRUE(throttle.Try("192.0.2.7", "alice").now);
    EXPECT_EQ(throttle.Try("192.0.2.7", "alice").wait, milliseconds(3000));
    // A window after the last try, the address starts afresh.
    now += seconds(60) + milliseconds(1);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(throttle.Try("192.0.2.7", "alice").now) << i;
    EXPECT_EQ(throttle.Try("192.0.2.7", "alice").wait, milliseconds(375));
}

TEST_F(LoginThrottleTest, TheTablesKeepTheMostRecentlyTriedUpToTheirBound) {
    // Rows: other addresses tried since -> whether the first one still waits.
    const std::pair<int, bool> rows[] = {{0, true}, {3, true}, {4, false}, {50, false}};
    for (const auto& [others, waits] : rows) {
        auto throttle = Make({.maxEntries = 4});
        for (int i = 0; i < 6; ++i)
            TryWhenAllowed(throttle, "192.0.2.7", "alice");
        for (int i = 0; i < others; ++i)
            ASSERT_TRUE(throttle.Try("10.1.0." + std::to_string(i), "u" + std::to_string(i)).now);
        EXPECT_EQ(!throttle.Try("192.0.2.7", "alice").now, waits) << others;
    }
}

TEST_F(LoginThrottleTest, AddressesAreCountedByHostAndIpv6ByItsSlash64) {
    const std::pair<const char*, const char*> rows[] = {
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:DB8:1:2::99", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
        {"local", "local"},
        {"not an address", "not an address"},
    };
    for (const auto& [client, key] : rows)
        EXPECT_EQ(AddressKey(client), key) << client;

    auto throttle = Make();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(throttle.Try("2001:db8:1:2::" + std::to_string(i + 1), "alice").now);
    EXPECT_FALSE(throttle.Try("2001:db8:1:2::ff", "bob").now) << "one /64, one count";
    EXPECT_TRUE(throttle.Try("2001:db8:1:3::1", "bob").now);
}

TEST_F(LoginThrottleTest, AccountNamesCompareWithoutLetterCase) {
    auto throttle = Make();
    for (int i = 0; i < 5; ++i)
        TryWhenAllowed(throttle, "192.0.2.7", "Alice@Example.COM");
    // Her free tries in three spellings are one account's: the fourth waits for its turn (3 s),
    // not just for her address's (375 ms).
    for (const char* spelling : {"alice@example.com", "ALICE@EXAMPLE.COM", "Alice@example.com"})
        EXPECT_TRUE(throttle.Try("198.51.100.1", spelling).now) << spelling;
    EXPECT_EQ(throttle.Try("198.51.100.1", "aLiCe@example.com").wait, milliseconds(3000));
    // A success in any spelling clears them.
    throttle.Succeeded("198.51.100.1", "ALICE@example.COM");
    EXPECT_TRUE(throttle.Try("198.51.100.1", "alice@example.com").now);
}

} // namespace
