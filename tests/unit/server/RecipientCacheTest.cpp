// How long a resolved recipient is remembered, and what a full cache lets go.

#include "server/delivery/RecipientCache.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using server::delivery::RecipientCache;

const RecipientCache::Clock::time_point t0{};

TEST(RecipientCache, FindsWhatWasRememberedUntilItsTimeIsUp) {
    // A time of zero keeps nothing: the front that asks every time, in ExhostIntegrationTest.
    const struct {
        const char* what;
        std::chrono::milliseconds askedAfter; // of 30 s
        const char* asked;
        std::optional<std::string> found;
    } lookups[] = {
        {"other case", 29'999ms, "alice@EXAMPLE.COM", "alice"},
        {"time up", 30s, "Alice@Example.com", std::nullopt},
        {"other address", 0ms, "bob@example.com", std::nullopt},
        {"non-ASCII case is not folded", 0ms, "ALİCE@example.com", std::nullopt},
    };
    for (const auto& lookup : lookups) {
        RecipientCache cache(30s);
        cache.Remember("Alice@Example.com", "alice", t0);
        EXPECT_EQ(cache.Find(lookup.asked, t0 + lookup.askedAfter), lookup.found) << lookup.what;
    }
}

TEST(RecipientCache, RememberingAgainRenewsTheTimeAndTheMailbox) {
    RecipientCache cache(10s);
    cache.Remember("a@example.com", "old", t0);
    cache.Remember("A@example.com", "new", t0 + 8s);
    EXPECT_EQ(cache.Find("a@example.com", t0 + 15s), "new");
    EXPECT_EQ(cache.Find("a@example.com", t0 + 18s), std::nullopt);
}

TEST(RecipientCache, AFullCacheLetsTheExpiredGoFirstAndOtherwiseStartsOver) {
    RecipientCache cache(10s, 2);
    cache.Remember("old@example.com", "old", t0);
    cache.Remember("recent@example.com", "recent", t0 + 5s);
    cache.Remember("new@example.com", "new", t0 + 12s); // "old" has expired: it goes
    EXPECT_EQ(cache.Find("recent@example.com", t0 + 12s), "recent");
    EXPECT_EQ(cache.Find("new@example.com", t0 + 12s), "new");

    cache.Remember("newest@example.com", "newest", t0 + 13s); // none expired: all go
    EXPECT_EQ(cache.Find("newest@example.com", t0 + 13s), "newest");
    EXPECT_EQ(cache.Find("recent@example.com", t0 + 13s), std::nullopt);
    EXPECT_EQ(cache.Find("new@example.com", t0 + 13s), std::nullopt);
    // An address already kept is renewed in place, even in a full cache.
    cache.Remember("other@example.com", "other", t0 + 13s);
    cache.Remember("OTHER@example.com", "other", t0 + 14s);
    EXPECT_EQ(cache.Find("newest@example.com", t0 + 14s), "newest");
}

} // namespace
