// Deletes through the event service, with sinks that note their calls: the phases and flags each
// kind of delete brings, which registrations a delete calls, refusals that leave everything as it
// was, and DeleteItems (many items in one write, also inside a transaction).

#include "TempStore.h"
#include "TestSink.h"

#include "platform/core/Error.h"
#include "platform/store/EventFlags.h"
#include "platform/store/EventRegistration.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <functional>
#include <optional>
#include <regex>
#include <utility>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

struct RegistrationRow {
    std::string scope = "SHALLOW";
    std::string method = "onsyncdelete";
    std::string criteria = kHiddenExcluded;
    std::string priority = "1";
    std::optional<bool> enabled = std::nullopt;
};

// A delete call as TestSink::CallsSince gives it.
std::string Deleted(const std::string& url, std::int32_t flags) {
    return "OnSyncDelete " + url + " " + std::to_string(flags);
}

constexpr std::int32_t kBegin = EVT_SYNC_BEGIN | EVT_HARDDELETE;
constexpr std::int32_t kCommitted = EVT_SYNC_COMMITTED | EVT_HARDDELETE;
constexpr std::int32_t kAborted = EVT_SYNC_ABORTED | EVT_HARDDELETE;

class DeleteEvents : public TempStore {
protected:
    void RegisterAt(const std::string& url, const std::string& progId,
                    const RegistrationRow& row = {}) {
        auto save = store->NewItem(store->Locate(url));
        for (auto& [name, value] : EventRegistrationProperties(
                 {row.method, progId, row.scope, row.criteria, row.priority}))
            save.Set(name, value);
        if (row.enabled)
            save.Set(kEnabledProperty, Variant(*row.enabled));
        store->Save(save);
    }

    bool Exists(const std::string& url) { return store->Exists(store->Locate(url)); }
    std::int64_t Changes(const std::string& folder) {
        return store->NumbersOf(store->Locate(folder)).changes;
    }

    TestSink sink;
};

TEST_F(DeleteEvents, EachDeleteBringsItsPhasesWithItsFlagsForItsUrl) {
    sinks["Test.Sink"] = &sink;
    // DEEP: the items below a deleted folder would be called too, if they were.
    RegisterAt(kInbox + "/Test.reg", "Test.Sink", {"DEEP"});
    const auto other = OpenAnother();
    const struct {
        const char* name;
        std::function<void()> remove;
        std::vector<std::string> calls;
        std::int32_t failure = 0;
    } rows[] = {
        {"an item",
         [&] {
             Add(kInbox + "/m1");
             store->Delete(kInbox + "/m1");
         },
         {Deleted(kInbox + "/m1", kBegin), Deleted(kInbox + "/m1", kCommitted)}},
        {"an item by its http URL, in other letter case",
         [&] {
             Add(kInbox + "/m2");
             store->Delete(kHttpBase + "/alice/INBOX/M2");
         },
         {Deleted(kHttpBase + "/alice/INBOX/M2", kBegin),
          Deleted(kHttpBase + "/alice/INBOX/M2", kCommitted)}},
        {"a folder with items and a folder below: one event, for the folder",
         [&] {
             store->CreateFolder(kInbox + "/Sub");
             store->CreateFolder(kInbox + "/Sub/Deeper");
             Add(kInbox + "/Sub/a");
             Add(kInbox + "/Sub/Deeper/b");
             store->Delete(kInbox + "/Sub");
             EXPECT_FALSE(Exists(kInbox + "/Sub/Deeper/b"));
         },
         {Deleted(kInbox + "/Sub", kBegin | EVT_IS_COLLECTION),
          Deleted(kInbox + "/Sub", kCommitted | EVT_IS_COLLECTION)}},
        {"a hidden item, which the criteria leave out",
         [&] {
             Add(kInbox + "/hidden", {{kIsHidden, Variant(true)}});
             store->Delete(kInbox + "/hidden");
         },
         {}},
        {"items by number, one of them never there and one named twice",
         [&] {
             const auto first = Add(kInbox + "/x1");
             const auto second = Add(kInbox + "/x2");
             store->DeleteItems(kInbox, {second, 999, first, second});
         },
         {Deleted(kInbox + "/x2", kBegin), Deleted(kInbox + "/x1", kBegin),
          Deleted(kInbox + "/x2", kCommitted), Deleted(kInbox + "/x1", kCommitted)}},
        // Another connection deletes it while the sink runs: the write finds it gone.
        {"an item gone while the sinks ran",
         [&] {
             Add(kInbox + "/gone");
             bool once = false;
             sink.onBegin = [&](ado::Record&) {
                 if (!std::exchange(once, true))
                     other->Delete(kInbox + "/gone");
             };
             store->Delete(kInbox + "/gone");
         },
         {Deleted(kInbox + "/gone", kBegin), Deleted(kInbox + "/gone", kBegin),
          Deleted(kInbox + "/gone", kCommitted), Deleted(kInbox + "/gone", kAborted)},
         store::hr::DB_E_NOTFOUND},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = sink.Calls().size();
        EXPECT_EQ(testsupport::FailureOf(row.remove).number, row.failure);
        sink.onBegin = nullptr;
        EXPECT_EQ(sink.CallsSince(before), row.calls);
    }
    EXPECT_EQ(sink.References(), 1);
}

// The refusing sink comes second and refuses only items marked for it; the watching sink sees
// every phase.
TEST_F(DeleteEvents, ARefusedDeleteLeavesEverythingAsItWas) {
    TestSink refusing;
    refusing.abortInBegin = true;
    sinks = {{"Test.Sink", &sink}, {"Refusing.Sink", &refusing}};
    RegisterAt(kInbox + "/Watch.reg", "Test.Sink", {"DEEP"});
    RegisterAt(kInbox + "/Refuse.reg", "Refusing.Sink",
               {"DEEP", "onsyncdelete", " WHERE \"urn:test:refuse\" = 'yes'", "2"});
    const Variant yes("yes");
    std::vector<std::int64_t> numbers;
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> remove;
        std::vector<std::string> kept;
        std::vector<std::string> calls;
    } rows[] = {
        {"an item",
         [&] {
             Add(kInbox + "/r1", {{"urn:test:refuse", yes}});
         },
         [&] { store->Delete(kInbox + "/r1"); },
         {kInbox + "/r1"},
         {Deleted(kInbox + "/r1", kBegin), Deleted(kInbox + "/r1", kAborted)}},
        {"a folder with an item",
         [&] {
             store->CreateFolder(kInbox + "/Keep");
             Add(kInbox + "/Keep/inside");
             Change(kInbox + "/Keep", "urn:test:refuse", yes);
         },
         [&] { store->Delete(kInbox + "/Keep"); },
         {kInbox + "/Keep", kInbox + "/Keep/inside"},
         {Deleted(kInbox + "/Keep", kBegin | EVT_IS_COLLECTION),
          Deleted(kInbox + "/Keep", kAborted | EVT_IS_COLLECTION)}},
        // All or nothing: the third is never begun.
        {"items by number, the second refused",
         [&] {
             numbers = {Add(kInbox + "/k1"), Add(kInbox + "/k2", {{"urn:test:refuse", yes}}),
                        Add(kInbox + "/k3")};
         },
         [&] { store->DeleteItems(kInbox, numbers); },
         {kInbox + "/k1", kInbox + "/k2", kInbox + "/k3"},
         {Deleted(kInbox + "/k1", kBegin), Deleted(kInbox + "/k2", kBegin),
          Deleted(kInbox + "/k2", kAborted), Deleted(kInbox + "/k1", kAborted)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.prepare();
        const auto before = sink.Calls().size();
        const auto changes = Changes(kInbox);
        testsupport::ExpectRefused(row.remove, store::hr::E_ABORT, "Refusing.Sink");
        EXPECT_EQ(sink.CallsSince(before), row.calls);
        for (const auto& url : row.kept)
            EXPECT_TRUE(Exists(url)) << url;
        EXPECT_EQ(Changes(kInbox), changes);
    }
    // The refused items keep their numbers.
    for (const auto number : numbers)
        EXPECT_TRUE(store->KeyOfNumber(store->Locate(kInbox).key, number)) << number;
}

TEST_F(DeleteEvents, WhichRegistrationsADeleteCalls) {
    sinks["Test.Sink"] = &sink;
    const std::string globalEvents = systemMailbox + "/" + kGlobalEventsPath;
    enum class Where { Here, Above, Root, OtherMailbox, Global, Itself };
    enum class Target { Item, Folder };
    const auto kind = [](const char* is) {
        return RegistrationRow{.criteria = std::string(" WHERE \"urn:test:kind\" = '") + is + "'"};
    };
    const struct {
        const char* name;
        RegistrationRow registration;
        bool called;
        Where where = Where::Here;
        Target target = Target::Item;
    } rows[] = {
        {"SHALLOW in the item's folder", {}, true},
        {"SHALLOW in the folder above", {}, false, Where::Above},
        {"DEEP in the folder above", {"DEEP"}, true, Where::Above},
        {"deep in the mailbox root", {"deep"}, true, Where::Root},
        {"DEEP in another mailbox", {"DEEP"}, false, Where::OtherMailbox},
        {"ANY in the global events", {"ANY"}, true, Where::Global},
        {"ANY outside the global events", {"ANY"}, false},
        {"EXACT in the deleted folder", {"EXACT"}, true, Where::Itself, Target::Folder},
        {"EXACT in the deleted item's folder", {"EXACT"}, false},
        {"SHALLOW in the deleted folder's folder", {}, true, Where::Here, Target::Folder},
        {"only the save event", {.method = "onsyncsave"}, false},
        {"the save and the delete event", {.method = "OnSyncSave; OnSyncDelete"}, true},
        {"both, by comma", {.method = "onsyncsave,onsyncdelete"}, true},
        {"disabled", {.criteria = "", .enabled = false}, false},
        {"enabled", {.criteria = "", .enabled = true}, true},
        {"criteria that hold", kind("doomed"), true},
        {"criteria that do not", kind("other"), false},
    };
    int number = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto folder = kInbox + "/Row" + std::to_string(++number);
        store->CreateFolder(folder);
        const auto target = folder + (row.target == Target::Item ? "/item" : "/folder");
        if (row.target == Target::Item)
            Add(target, {{"urn:test:kind", Variant("doomed")}});
        else
            store->CreateFolder(target);
        const std::map<Where, std::string> places = {
            {Where::Here, folder},         {Where::Above, kInbox},
            {Where::Root, kMailbox},       {Where::OtherMailbox, kFileBase + "/bob/Inbox"},
            {Where::Global, globalEvents}, {Where::Itself, target}};
        const auto registration = places.at(row.where) + "/Row.reg";
        RegisterAt(registration, "Test.Sink", row.registration);
        const auto before = sink.Calls().size();
        store->Delete(target);
        const auto flags = row.target == Target::Folder ? EVT_IS_COLLECTION : 0;
        const std::vector<std::string> expected =
            row.called ? std::vector<std::string>{Deleted(target, kBegin | flags),
                                                  Deleted(target, kCommitted | flags)}
                       : std::vector<std::string>{};
        EXPECT_EQ(sink.CallsSince(before), expected);
        if (Exists(registration))
            store->Delete(registration);
    }
}

TEST_F(DeleteEvents, SinksRunByPriorityAndTheirFailuresAreLoggedWhileTheDeleteGoesOn) {
    TestSink first, second, broken;
    std::vector<std::string> order;
    first.onBegin = [&](ado::Record&) { order.push_back("first"); };
    second.onBegin = [&](ado::Record&) { order.push_back("second"); };
    broken.throwInBegin = true;
    sinks = {{"First.Sink", &first}, {"Second.Sink", &second}, {"Broken.Sink", &broken}};
    RegisterAt(kInbox + "/Second.reg", "Second.Sink", {"SHALLOW", "onsyncdelete", "", "2"});
    RegisterAt(kInbox + "/First.reg", "First.Sink", {"SHALLOW", "onsyncdelete", "", "1"});
    RegisterAt(kInbox + "/Broken.reg", "Broken.Sink", {"SHALLOW", "onsyncdelete", "", "0"});
    RegisterAt(kInbox + "/Missing.reg", "Missing.Sink");
    RegisterAt(kInbox + "/Unreadable.reg", "First.Sink", {"SHALLOW", "onsyncdelete", " WHERE ("});
    Add(kInbox + "/doomed");
    const auto logBefore = EventLog().size();

    store->Delete(kInbox + "/doomed");

    EXPECT_FALSE(Exists(kInbox + "/doomed"));
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(broken.DeleteFlags(), (std::vector<std::int32_t>{kBegin, kCommitted}));
    const auto log = EventLog().substr(logBefore);
    // One line each: UTC time, item URL, ProgID, failure.
    EXPECT_TRUE(std::regex_match(
        log,
        std::regex(
            "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\t[^\t\n]+\t[^\t\n]+\t[^\t\n]+\n){3}")))
        << log;
    for (const auto& line :
         {kInbox + "/doomed\tBroken.Sink\tOnSyncDelete (begin) threw: the test sink broke",
          kInbox + "/doomed\tMissing.Sink\tClass not registered: Missing.Sink",
          kInbox + "/doomed\tFirst.Sink\tThe criteria of \"" + kInbox + "/Unreadable.reg\""})
        EXPECT_NE(log.find(line), std::string::npos) << log;
}

TEST_F(DeleteEvents, TheSinkReadsTheDeletedItemButCannotChangeIt) {
    std::string seen;
    std::int32_t writeFailure = 0;
    sink.onBegin = [&](ado::Record& record) {
        seen = record.Fields()->Item("urn:test:a")->Value().Text();
        writeFailure = testsupport::FailureOf([&] {
                           record.Fields()->Item("urn:test:a")->SetValue(Variant("changed"));
                           record.Fields()->Update();
                       }).number;
    };
    sinks["Test.Sink"] = &sink;
    RegisterAt(kInbox + "/Test.reg", "Test.Sink");
    Add(kInbox + "/read", {{"urn:test:a", Variant("as stored")}});
    sink.abortInBegin = true; // so that the item stays to be read back
    EXPECT_EQ(testsupport::FailureOf([&] { store->Delete(kInbox + "/read"); }).number,
              store::hr::E_ABORT);
    EXPECT_EQ(seen, "as stored");
    EXPECT_NE(writeFailure, 0);
    EXPECT_EQ(store->Read(store->Locate(kInbox + "/read")).properties.at("urn:test:a"),
              Variant("as stored"));
}

TEST_F(DeleteEvents, DeleteItemsInsideATransactionIsUndoneByItsRollback) {
    sinks["Test.Sink"] = &sink;
    RegisterAt(kInbox + "/Test.reg", "Test.Sink");
    const auto first = Add(kInbox + "/t1");
    const auto second = Add(kInbox + "/t2");
    const auto inbox = store->Locate(kInbox);
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "committed" : "rolled back");
        const auto before = sink.Calls().size();
        store->BeginTransaction();
        store->DeleteItems(kInbox, {first, second});
        EXPECT_FALSE(store->KeyOfNumber(inbox.key, first));
        if (commit)
            store->CommitTransaction();
        else
            store->RollbackTransaction();
        EXPECT_EQ(sink.CallsSince(before).size(), 4u);
        // Seen by another connection.
        const auto reader = OpenAnother();
        for (const auto number : {first, second})
            EXPECT_EQ(reader->KeyOfNumber(inbox.key, number).has_value(), !commit) << number;
    }
}

TEST_F(DeleteEvents, DeleteItemsFailsForWhatIsNoFolderAndCountsNoChangeForNothing) {
    Add(kInbox + "/item");
    const struct {
        std::string url;
        std::int32_t failure;
    } rows[] = {
        {kInbox + "/Missing", store::hr::DB_E_NOTFOUND},
        {kInbox + "/item", store::hr::DB_E_NOTFOUND},
        {"file://./backofficestorage/example.com", platform::hr::E_INVALIDARG},
        {kFileBase + "/nobody/Inbox", store::hr::DB_E_NOTFOUND},
    };
    for (const auto& row : rows)
        EXPECT_EQ(testsupport::FailureOf([&] { store->DeleteItems(row.url, {1}); }).number,
                  row.failure)
            << row.url;
    const auto changes = Changes(kInbox);
    store->DeleteItems(kInbox, {});
    store->DeleteItems(kInbox, {12345});
    EXPECT_EQ(Changes(kInbox), changes);
    EXPECT_TRUE(Exists(kInbox + "/item"));
}

// Many numbers in one write, each item with its sink's phases.
TEST_F(DeleteEvents, AThousandItemsGoInOneWrite) {
    sinks["Test.Sink"] = &sink;
    RegisterAt(systemMailbox + "/" + kGlobalEventsPath + "/Any.reg", "Test.Sink", {"ANY"});
    constexpr int kCount = 1000;
    std::vector<std::int64_t> numbers;
    store->BeginTransaction();
    for (int i = 0; i < kCount; ++i)
        numbers.push_back(Add(kInbox + "/m" + std::to_string(i)));
    store->CommitTransaction();
    store->DeleteItems(kInbox, numbers);
    FolderNumbers ignored;
    EXPECT_TRUE(store->NumberedItems(store->Locate(kInbox), ignored, {}).empty());
    EXPECT_EQ(sink.DeleteFlags().size(), 2u * kCount);
}

} // namespace
