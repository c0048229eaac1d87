// Renaming folders: every way a rename is refused (changing nothing), and what a rename keeps:
// the items below with their numbers and change counts, the folders' numbers and claims, and the
// registrations below.

#include "TempStore.h"
#include "TestSink.h"

#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <algorithm>
#include <functional>
#include <map>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

// Everything a rename may touch, as (folder path, number, item name) and each folder's numbers.
struct Snapshot {
    std::vector<std::string> paths;
    std::vector<std::tuple<std::string, std::int64_t, std::string>> items;
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> numbers; // validity, next
    bool operator==(const Snapshot&) const = default;
};

class RenameFolder : public TempStore {
protected:
    // Inbox/Sub (items a, b; b deleted, so next is 3) holding Deeper (item c); Inbox/Other;
    // Inbox/m an item.
    void SetUp() override {
        TempStore::SetUp();
        store->CreateFolder(kInbox + "/Sub");
        store->CreateFolder(kInbox + "/Sub/Deeper");
        store->CreateFolder(kInbox + "/Other");
        Add(kInbox + "/m");
        Add(kInbox + "/Sub/a");
        Add(kInbox + "/Sub/b");
        store->Delete(kInbox + "/Sub/b");
        Add(kInbox + "/Sub/Deeper/c");
    }

    std::int64_t Add(const std::string& url) {
        return TempStore::Add(url, {{"urn:test:body", Variant("body of " + url)}});
    }

    Snapshot Take() {
        Snapshot snapshot;
        snapshot.paths = store->FolderPaths(store->Locate(kMailbox));
        for (const auto& path : snapshot.paths) {
            FolderNumbers numbers;
            for (const auto& [number, name] : Listing(kMailbox + "/" + path, numbers))
                snapshot.items.emplace_back(path, number, name);
            snapshot.numbers[path] = {numbers.validity, numbers.next};
        }
        return snapshot;
    }

    Item Read(const std::string& url) { return store->Read(store->Locate(url)); }
    FolderNumbers Numbers(const std::string& url) { return store->NumbersOf(store->Locate(url)); }
};

TEST_F(RenameFolder, IsRefusedChangingNothing) {
    const struct {
        const char* name;
        std::string from;
        std::string to;
        std::int32_t failure;
    } rows[] = {
        {"no such source", kInbox + "/Nope", kInbox + "/X", store::hr::DB_E_NOTFOUND},
        {"the source an item", kInbox + "/m", kInbox + "/X", store::hr::DB_E_NOTFOUND},
        {"the source a mailbox root", kMailbox, kInbox + "/X", platform::hr::E_INVALIDARG},
        {"the source a domain folder", "file://./backofficestorage/example.com", kInbox + "/X",
         platform::hr::E_INVALIDARG},
        {"the target exists", kInbox + "/Sub", kInbox + "/Other", store::hr::DB_E_RESOURCEEXISTS},
        {"the target exists in other letter case", kInbox + "/Sub", kInbox + "/OTHER",
         store::hr::DB_E_RESOURCEEXISTS},
        {"the target is an item", kInbox + "/Sub", kInbox + "/M", store::hr::DB_E_RESOURCEEXISTS},
        {"the target is the mailbox root", kInbox + "/Sub", kMailbox,
         store::hr::DB_E_RESOURCEEXISTS},
        {"the target is the source's own folder", kInbox + "/Sub/Deeper", kInbox + "/Sub",
         store::hr::DB_E_RESOURCEEXISTS},
        {"no folder to hold the target", kInbox + "/Sub", kInbox + "/Nope/Sub",
         store::hr::DB_E_NOTFOUND},
        {"an item where the target's folder would be", kInbox + "/Sub", kInbox + "/m/Sub",
         store::hr::DB_E_NOTFOUND},
        {"the target below the source", kInbox + "/Sub", kInbox + "/Sub/Deeper/Sub",
         platform::hr::E_INVALIDARG},
        {"the target below the source, in other letter case", kInbox + "/Sub", kInbox + "/SUB/New",
         platform::hr::E_INVALIDARG},
        {"the target in another mailbox", kInbox + "/Sub", kFileBase + "/bob/Inbox/Sub",
         platform::hr::E_INVALIDARG},
        {"the target in an unknown mailbox", kInbox + "/Sub", kFileBase + "/nobody/Sub",
         store::hr::DB_E_NOTFOUND},
        {"the target in another server's URL", kInbox + "/Sub",
         "http://elsewhere/exadmin/example.com/mbx/alice/Inbox/X", store::hr::ERROR_BAD_NETPATH},
    };
    const auto before = Take();
    const auto changes = Numbers(kInbox).changes;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto failure = testsupport::FailureOf([&] { store->RenameFolder(row.from, row.to); });
        EXPECT_EQ(failure.number, row.failure) << failure.description;
        EXPECT_TRUE(Take() == before);
    }
    EXPECT_EQ(Numbers(kInbox).changes, changes);
}

// Each row renames the folder where the row before left it.
TEST_F(RenameFolder, MovesTheFolderAndEverythingBelowKeepingTheirNumbers) {
    const struct {
        const char* name;
        std::string to;
        std::string path; // the folder's path afterwards, as stored
        bool sameName;    // the old URL still names it
    } rows[] = {
        {"a new name", kInbox + "/Renamed", "Inbox/Renamed", false},
        {"into another folder", kInbox + "/Other/Renamed", "Inbox/Other/Renamed", false},
        {"to the mailbox root, by its http URL", kHttpBase + "/alice/Top", "Top", false},
        {"only the letter case", kMailbox + "/TOP", "TOP", true},
        {"back where it was", kInbox + "/Sub", "Inbox/Sub", false},
    };
    std::string from = kInbox + "/Sub";
    std::string fromPath = "Inbox/Sub";
    const auto folderCount = store->FolderPaths(store->Locate(kMailbox)).size();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto folder = Numbers(from);
        const auto deeper = Numbers(from + "/Deeper");
        FolderNumbers ignored;
        const auto changed = store->NumberedItems(store->Locate(from), ignored, {}).at(0).changed;
        store->ClaimNew(store->Locate(from), folder.next);
        store->RenameFolder(from, row.to);
        const auto to = kMailbox + "/" + row.path;

        EXPECT_EQ(store->Exists(store->Locate(from)), row.sameName);
        const auto paths = store->FolderPaths(store->Locate(kMailbox));
        EXPECT_EQ(paths.size(), folderCount);
        const auto has = [&](const std::string& path) {
            return std::find(paths.begin(), paths.end(), path) != paths.end();
        };
        EXPECT_TRUE(has(row.path) && has(row.path + "/Deeper")) << testing::PrintToString(paths);
        EXPECT_FALSE(has(fromPath)) << testing::PrintToString(paths);
        EXPECT_EQ(Read(to).properties.at(kDisplayName),
                  Variant(row.path.substr(row.path.rfind('/') + 1)));
        EXPECT_EQ(Listing(to), (Listed{{1, "a"}}));
        EXPECT_EQ(Listing(to + "/Deeper"), (Listed{{1, "c"}}));
        EXPECT_EQ(Read(to + "/Deeper/c").properties.at("urn:test:body"),
                  Variant("body of " + kInbox + "/Sub/Deeper/c"));
        EXPECT_EQ(store->KeyOfNumber(store->Locate(to).key, 1), store->Locate(to + "/a").key);
        const auto now = Numbers(to);
        EXPECT_EQ(now.validity, folder.validity);
        EXPECT_EQ(now.next, folder.next);
        EXPECT_GT(now.changes, folder.changes);
        // The items keep their change counts, and what was claimed stays claimed.
        EXPECT_EQ(store->NumberedItems(store->Locate(to), ignored, {}).at(0).changed, changed);
        EXPECT_EQ(store->FirstUnclaimed(store->Locate(to)), folder.next);
        EXPECT_EQ(Numbers(to + "/Deeper").validity, deeper.validity);
        EXPECT_EQ(Numbers(to + "/Deeper").next, deeper.next);
        // A new item goes on from the folder's numbers.
        const auto added = Add(to + "/new");
        EXPECT_EQ(added, folder.next);
        store->Delete(to + "/new");
        from = to;
        fromPath = row.path;
    }
}

TEST_F(RenameFolder, RegistrationsBelowMoveWithTheFolder) {
    TestSink sink;
    sinks["Test.Sink"] = &sink;
    storetest::Register(*store, kInbox + "/Sub/Deeper/Test.reg");
    store->RenameFolder(kInbox + "/Sub", kInbox + "/Moved");
    auto save = store->NewItem(store->Locate(kInbox + "/Moved/Deeper/new"));
    store->Save(save);
    EXPECT_EQ(sink.SaveFlags(), (std::vector<std::int32_t>{EVT_SYNC_BEGIN | EVT_NEW_ITEM,
                                                           EVT_SYNC_COMMITTED | EVT_NEW_ITEM}));
    ASSERT_FALSE(sink.Calls().empty());
    EXPECT_EQ(sink.Calls().back().url, kInbox + "/Moved/Deeper/new");
    EXPECT_TRUE(store->Exists(store->Locate(kInbox + "/Moved/Deeper/Test.reg")));
}

// A folder made where one was before goes on from the numbers it had, so that a client that knew
// the old folder by that name never takes a new item for one it saw.
TEST_F(RenameFolder, NumbersUnderAFolderNameNeverGoBack) {
    const struct {
        const char* name;
        std::function<std::string()> make; // a folder where one was; returns its URL
    } rows[] = {
        {"a new folder where the renamed one was",
         [&] {
             store->RenameFolder(kInbox + "/Sub", kInbox + "/Moved");
             store->CreateFolder(kInbox + "/Sub");
             return kInbox + "/Sub";
         }},
        {"a folder renamed to where a deleted one was",
         [&] {
             store->Delete(kInbox + "/Sub");
             store->RenameFolder(kInbox + "/Moved", kInbox + "/Sub");
             return kInbox + "/Sub";
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = Numbers(kInbox + "/Sub");
        Add(kInbox + "/Sub/x"); // gives the old folder's last number away, if any
        const auto next = Numbers(kInbox + "/Sub").next;
        ASSERT_GT(next, before.next);
        const auto url = row.make();
        EXPECT_GE(Numbers(url).next, next);
        EXPECT_GE(Add(url + "/after"), next);
    }
}

} // namespace
