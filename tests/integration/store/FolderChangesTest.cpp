// What a committed write leaves for readers (and an undone one does not): the change counts of the
// folders it changed and of the item it changed, and notices of those folders, heard through
// inotify as another process would hear them, by change file names that every build agrees on.
// What the counts are for: saves made on condition that the item was not changed since a count,
// and items claimed as new, never given back.

#include "TempStore.h"

#include "platform/core/Error.h"
#include "platform/store/FolderChanges.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <functional>
#include <map>
#include <set>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

class ChangeCounts : public TempStore {
protected:
    std::int64_t Count() { return store->NumbersOf(store->Locate(kInbox)).changes; }
    // Number -> change count, of every item in the Inbox.
    std::map<std::int64_t, std::int64_t> Changed() {
        FolderNumbers numbers;
        std::map<std::int64_t, std::int64_t> changed;
        for (const auto& item : store->NumberedItems(store->Locate(kInbox), numbers, {}))
            changed[item.number] = item.changed;
        return changed;
    }
};

class FolderChanges : public ChangeCounts {
protected:
    void SetUp() override {
        ChangeCounts::SetUp();
        store->CreateFolder(kInbox + "/Sub");
        first = Add(kInbox + "/one");
        Add(kInbox + "/other");
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

// A committed write raises the change count of each folder it changed, where only the item it
// changed takes the new count, and watchers hear of those folders; an undone write does neither.
TEST_F(FolderChanges, ACommittedWriteCountsAndTellsOfTheFoldersItChangedAndAnUndoneOneOfNone) {
    struct Row {
        const char* what;
        std::function<void()> write;
        std::vector<std::string> changed; // folder URLs
        std::int64_t changedNumber = 0;   // the Inbox item that takes the new count; 0: none
    };
    const auto change = [this](const char* subject) {
        Change(kInbox + "/one", kSubject, Variant(std::string(subject)));
    };
    const Row rows[] = {
        {"a new item", [this] { Add(kInbox + "/three"); }, {kInbox}, 3},
        {"a changed item", [&] { change("changed"); }, {kInbox}, first},
        {"a second save of the same item",
         [&] {
             change("changed");
             change("again");
         },
         {kInbox},
         first},
        {"items removed by number", [this] { store->DeleteItems(kInbox, {first}); }, {kInbox}},
        // Deleting by URL tells of the key too, for when it is a folder.
        {"an item removed by URL",
         [this] { store->Delete(kInbox + "/one"); },
         {kInbox, kInbox + "/one"}},
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
         {kInbox, kInbox + "/Sub"},
         3},
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
        const auto before = Changed();
        const auto count = Count();
        EXPECT_TRUE(Heard().empty());
        row.write();
        EXPECT_EQ(Heard(), expected);
        EXPECT_EQ(Count() > count, expected.count(ChangeFileName(store->Locate(kInbox).key)) == 1);
        for (const auto& [number, changed] : Changed())
            EXPECT_EQ(changed, number == row.changedNumber ? Count() : before.at(number)) << number;
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

class ItemChanges : public ChangeCounts {
protected:
    std::int64_t Add(const std::string& name) {
        auto save = store->NewItem(store->Locate(kInbox + "/" + name));
        save.Set("urn:test:body", Variant("body of " + name));
        store->Save(save);
        EXPECT_EQ(save.changedAt, Count());
        return save.number;
    }
    PendingSave Edit(const std::string& name, const std::string& body) {
        return TempStore::Edit(kInbox + "/" + name, "urn:test:body", Variant(body));
    }
};

TEST_F(ItemChanges, AConditionalSaveIsStoredOnlyWhileTheItemIsUnchanged) {
    Add("a");
    struct Case {
        const char* name;
        std::int64_t since; // the condition, from the item's count
        bool stored;
    };
    const Case cases[] = {
        {"changed since", -1, false},
        {"changed long since", -1000, false},
        {"unchanged since exactly then", 0, true},
        {"unchanged since later", 100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case on an item as Add left it, after another item's change.
        const auto number = Add("x");
        Add("y");
        const auto of = Changed().at(number);
        auto save = Edit("x", "conditional");
        save.unchangedSince = of + c.since;
        const auto count = Count();
        const auto failure = testsupport::FailureOf([&] { store->Save(save); });
        const auto body = store->Read(store->Locate(kInbox + "/x")).properties.at("urn:test:body");
        if (c.stored) {
            EXPECT_EQ(failure.number, 0) << failure.description;
            EXPECT_EQ(body.Text(), "conditional");
            EXPECT_EQ(Changed().at(number), Count());
            EXPECT_EQ(save.changedAt, Count());
        } else {
            EXPECT_EQ(failure.number, platform::store::hr::DB_E_CONCURRENCYVIOLATION);
            EXPECT_NE(failure.description.find(kInbox + "/x"), std::string::npos);
            EXPECT_EQ(body.Text(), "body of x");
            EXPECT_EQ(Count(), count);
            EXPECT_EQ(Changed().at(number), of);
        }
        store->Delete(kInbox + "/x");
        store->Delete(kInbox + "/y");
    }
}

// Which reader an item is new for, claimed by one and looked at without claiming by others, is
// the IMAP front's \Recent (imap_condstore_test.py). A reader that has not yet seen what another
// claimed since claims only up to what it knows of, which gives nothing back.
TEST_F(ItemChanges, ClaimsNeverGoBack) {
    for (const auto* name : {"a", "b", "c"})
        Add(name);
    EXPECT_EQ(store->ClaimNew(store->Locate(kInbox), 4), 1);
    auto other = OpenAnother();
    EXPECT_EQ(other->ClaimNew(other->Locate(kInbox), 2), 2);
    EXPECT_EQ(store->FirstUnclaimed(store->Locate(kInbox)), 4);
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
