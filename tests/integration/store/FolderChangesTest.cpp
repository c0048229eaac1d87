// Change notices: which folders a committed write tells watchers of (and that an undone one tells
// none), heard through inotify as another process would hear them, and change file names that
// every build agrees on.

#include "TempStore.h"

#include "platform/core/Error.h"
#include "platform/store/FolderChanges.h"

#include <functional>
#include <set>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

const std::string kMailbox = kFileBase + "/alice";
const std::string kInbox = kMailbox + "/Inbox";

class FolderChanges : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        store->CreateFolder(kInbox + "/Sub");
        first = Add(kInbox + "/one");
        Add(kInbox + "/Sub/two");
        watch = std::make_unique<FolderChangeWatch>(root / "store");
    }

    // The change file names of the folders at those URLs.
    std::set<std::string> NamesOf(const std::vector<std::string>& urls) {
        std::set<std::string> names;
        for (const auto& url : urls)
            names.insert(ChangeFileName(store->Locate(url).key));
        return names;
    }

    std::set<std::string> Heard() {
        const auto notices = watch->Take();
        EXPECT_FALSE(notices.overflowed);
        return {notices.names.begin(), notices.names.end()};
    }

    std::int64_t first = 0;
    std::unique_ptr<FolderChangeWatch> watch;
};

TEST_F(FolderChanges, ACommittedWriteTellsOfTheFoldersItChangedAndAnUndoneOneOfNone) {
    struct Row {
        const char* what;
        std::function<void()> write;
        std::vector<std::string> changed; // folder URLs
    };
    const Row rows[] = {
        {"a new item", [this] { Add(kInbox + "/three"); }, {kInbox}},
        {"a changed item",
         [this] { Change(kInbox + "/one", kSubject, Variant(std::string("changed"))); },
         {kInbox}},
        {"items removed by number", [this] { store->DeleteItems(kInbox, {first}); }, {kInbox}},
        {"a folder deleted: its parent and itself",
         [this] { store->Delete(kInbox + "/Sub"); },
         {kInbox, kInbox + "/Sub"}},
        {"a folder renamed: both names and the parent",
         [this] { store->RenameFolder(kInbox + "/Sub", kInbox + "/Renamed"); },
         {kInbox, kInbox + "/Sub", kInbox + "/Renamed"}},
        {"one transaction over two folders",
         [this] {
             store->BeginTransaction();
             Add(kInbox + "/three");
             Add(kInbox + "/Sub/four");
             store->CommitTransaction();
         },
         {kInbox, kInbox + "/Sub"}},
        {"a transaction rolled back",
         [this] {
             store->BeginTransaction();
             Add(kInbox + "/three");
             store->RollbackTransaction();
         },
         {}},
        {"a folder made: no message changed",
         [this] { store->CreateFolder(kMailbox + "/New"); },
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        const auto expected = NamesOf(row.changed); // before a rename or delete moves them
        EXPECT_TRUE(Heard().empty());
        row.write();
        EXPECT_EQ(Heard(), expected);
    }
}

TEST_F(FolderChanges, NothingIsToldBeforeTheCommitAndAnotherStoreThenSeesTheChange) {
    auto reader = OpenAnother();
    const auto inbox = reader->Locate(kInbox);
    const auto before = reader->NumbersOf(inbox).changes;
    store->BeginTransaction();
    Add(kInbox + "/three");
    EXPECT_TRUE(Heard().empty());
    store->CommitTransaction();
    EXPECT_EQ(Heard(), NamesOf({kInbox}));
    EXPECT_GT(reader->NumbersOf(inbox).changes, before);
}

TEST_F(FolderChanges, ManyChangesOfOneFolderAreToldOnce) {
    for (int i = 0; i < 50; ++i)
        Add(kInbox + "/many" + std::to_string(i));
    const auto notices = watch->Take();
    EXPECT_EQ(notices.names, std::vector<std::string>{ChangeFileName(store->Locate(kInbox).key)});
    EXPECT_TRUE(watch->Take().names.empty());
}

TEST(ChangeFileName, IsTheSameInEveryBuildAndProcess) {
    // Processes of different builds (an older exhost deliver beside a newer imap) must agree.
    struct Row {
        const char* key;
        const char* name;
    };
    for (const auto& row : {Row{"", "cbf29ce484222325"}, Row{"a", "af63dc4c8601ec8c"},
                            Row{"example.com/alice/inbox", ""}}) {
        const auto name = ChangeFileName(row.key);
        EXPECT_EQ(name.size(), 16u);
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos);
        if (*row.name) {
            EXPECT_EQ(name, row.name) << row.key;
        }
    }
    EXPECT_NE(ChangeFileName("example.com/alice/inbox"), ChangeFileName("example.com/bob/inbox"));
}

} // namespace
