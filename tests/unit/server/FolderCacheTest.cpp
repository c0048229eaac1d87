// The folder cache shared by an IMAP server's sessions: what it keeps within its budget, which
// list goes first (the least recently used), and that a changed folder's list is not handed out.

#include "server/mailstore/ImapMailboxBackend.h"

#include <gtest/gtest.h>

using server::imap::FolderSnapshot;
using server::mailstore::FolderCache;
using server::mailstore::OctetsOf;

namespace {

// A folder of `messages` messages with headers of 1,000 octets.
std::shared_ptr<const FolderSnapshot> Folder(int messages) {
    auto folder = std::make_shared<FolderSnapshot>();
    for (int i = 0; i < messages; ++i) {
        folder->messages.emplace_back();
        folder->messages.back().uid = static_cast<std::uint32_t>(i + 1);
        folder->messages.back().header = std::make_shared<const std::string>(1000, 'h');
    }
    return folder;
}

TEST(FolderCache, KeepsWhatItsBudgetHoldsAndLetsTheLeastRecentlyUsedGo) {
    const auto one = OctetsOf(*Folder(100));
    struct Row {
        const char* what;
        std::vector<std::string> steps; // "keep K", "find K": in order
        std::vector<std::string> kept, gone;
    };
    const Row rows[] = {
        {"two fit", {"keep a", "keep b"}, {"a", "b"}, {}},
        {"the third pushes out the oldest", {"keep a", "keep b", "keep c"}, {"b", "c"}, {"a"}},
        {"a list found is used: the other goes",
         {"keep a", "keep b", "find a", "keep c"},
         {"a", "c"},
         {"b"}},
        {"a list kept again counts once", {"keep a", "keep a", "keep a", "keep b"}, {"a", "b"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FolderCache cache(2 * one + one / 2);
        for (const auto& step : row.steps) {
            const auto key = step.substr(5);
            if (step.starts_with("keep"))
                cache.Keep(key, 1, Folder(100));
            else
                EXPECT_NE(cache.Find(key, 1), nullptr);
        }
        for (const auto& key : row.kept)
            EXPECT_NE(cache.Find(key, 1), nullptr) << key;
        for (const auto& key : row.gone)
            EXPECT_EQ(cache.Find(key, 1), nullptr) << key;
        EXPECT_LE(cache.Held(), 2 * one + one / 2);
        EXPECT_EQ(cache.Held(), row.kept.size() * one);
    }
}

TEST(FolderCache, AListOverTheBudgetIsKeptAloneAndAChangedFolderIsReadAgain) {
    FolderCache cache(OctetsOf(*Folder(10)));
    cache.Keep("small", 1, Folder(5));
    cache.Keep("large", 7, Folder(100));
    EXPECT_EQ(cache.Find("small", 1), nullptr);
    ASSERT_NE(cache.Find("large", 7), nullptr);
    EXPECT_EQ(cache.Find("large", 7)->messages.size(), 100u);
    EXPECT_EQ(cache.Find("large", 8), nullptr); // the folder changed since
    cache.Keep("large", 8, Folder(3));
    EXPECT_EQ(cache.Held(), OctetsOf(*Folder(3)));
}

} // namespace
