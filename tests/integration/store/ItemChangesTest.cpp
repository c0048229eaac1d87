// What a folder's change count tells about its items: each item carries the count of its last
// change, a save can be made on condition that the item was not changed since a count, and the
// folder's items are claimed as new by one reader only.

#include "TempStore.h"

#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <map>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

const std::string kInbox = kFileBase + "/alice/Inbox";

class ItemChanges : public TempStore {
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
    std::int64_t Count() { return store->NumbersOf(store->Locate(kInbox)).changes; }
    // Number -> changed, of every item in the Inbox.
    std::map<std::int64_t, std::int64_t> Changed() {
        FolderNumbers numbers;
        std::map<std::int64_t, std::int64_t> changed;
        for (const auto& item : store->NumberedItems(store->Locate(kInbox), numbers, {}))
            changed[item.number] = item.changed;
        return changed;
    }
};

TEST_F(ItemChanges, EachChangeRaisesTheCountAndOnlyTheChangedItemTakesIt) {
    Add("a");
    Add("b");
    Add("c");
    struct Step {
        const char* name;
        std::function<void()> change;
        std::int64_t changedNumber; // the item that takes the new count; 0: none (it is gone)
    };
    const std::vector<Step> steps = {
        {"a save", [&] { Change(kInbox + "/b", "urn:test:body", Variant("new")); }, 2},
        {"a new item", [&] { Add("d"); }, 4},
        {"removal by number", [&] { store->DeleteItems(kInbox, {1}); }, 0},
        {"removal by URL", [&] { store->Delete(kInbox + "/c"); }, 0},
        {"a second save of the same item",
         [&] { Change(kInbox + "/b", "urn:test:body", Variant("newer")); }, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const auto before = Changed();
        const auto count = Count();
        step.change();
        EXPECT_GT(Count(), count);
        for (const auto& [number, changed] : Changed()) {
            if (number == step.changedNumber) {
                EXPECT_EQ(changed, Count()) << number;
            } else if (before.count(number)) {
                EXPECT_EQ(changed, before.at(number)) << number;
            }
        }
    }
}

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

TEST_F(ItemChanges, EachItemIsClaimedAsNewByOneReaderOnly) {
    const auto inbox = store->Locate(kInbox);
    EXPECT_EQ(store->FirstUnclaimed(inbox), 1);
    EXPECT_EQ(store->ClaimNew(inbox, 1), 1); // nothing there yet
    Add("a");
    Add("b");
    // Another connection looks without claiming, then claims what it read of: a and b.
    auto other = OpenAnother();
    const auto seen = other->Locate(kInbox);
    EXPECT_EQ(other->FirstUnclaimed(seen), 1);
    EXPECT_EQ(other->FirstUnclaimed(seen), 1);
    EXPECT_EQ(other->ClaimNew(seen, 3), 1);
    // This one read them too, and claims nothing.
    EXPECT_EQ(store->ClaimNew(inbox, 3), 3);
    EXPECT_EQ(store->FirstUnclaimed(inbox), 3);
    // A new item: the first to claim it has it, even one that read it later.
    Add("c");
    EXPECT_EQ(store->ClaimNew(inbox, 4), 3);
    EXPECT_EQ(other->ClaimNew(seen, 4), 4);
    // Claims never go back.
    EXPECT_EQ(other->ClaimNew(seen, 2), 2);
    EXPECT_EQ(store->FirstUnclaimed(inbox), 4);
}

} // namespace
