// Stores made by earlier builds, kept as files under tests/fixtures/stores (see make-fixtures.sh
// there): each opens, is brought up to the current format once, keeps what it held, and takes
// new mail. (A store of a newer format: store_format_test.py.)

#include "StoreFiles.h"
#include "TempStore.h"
#include "tests/integration/AtOnce.h"

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StoreFormat.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;
using namespace platform::store;
using namespace storetest;
namespace store = platform::store;

namespace {

std::string Message(const std::string& subject) {
    return "From: carol@example.org\r\nTo: alice@example.com\r\nSubject: " + subject +
           "\r\n\r\nHello.\r\n";
}

std::string Subjects(Store& store) {
    std::string subjects;
    for (const auto& item : store.Children(store.Locate(kInbox), false))
        subjects += item.properties.at(kSubject).Text() + ";";
    return subjects;
}

// Each fixture with the tables it has before it is opened, and the format it records (format 3
// recorded is the unrecorded fixture with its version set).
TEST(EarlierFormat, IsBroughtUpToDateKeepsItsMailAndTakesNewMail) {
    struct Case {
        std::string fixture;
        int tables;
        int recorded;
    };
    for (const auto& [fixture, tables, recorded] :
         {Case{"format-1.db", 4, 0},
          {"format-2.db", 6, 0},
          {"format-3-unrecorded.db", 6, 0},
          {"format-3-unrecorded.db", 6, 3},
          {LORVANTA_STORE_TESTS "/fixtures/format-4.db", 6, 4}}) {
        SCOPED_TRACE(std::string(fixture) + " recorded as " + std::to_string(recorded));
        OldStore old(fixture);
        ASSERT_EQ(Query(old.File(), "SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
                  std::to_string(tables));
        if (recorded)
            Query(old.File(), "PRAGMA user_version = " + std::to_string(recorded));

        auto store = old.Open();
        EXPECT_EQ(Query(old.File(), "PRAGMA user_version"), std::to_string(kStoreFormat));
        EXPECT_EQ(Subjects(*store), "Quarterly figures;Expanded by the gateway;");
        EXPECT_EQ(Query(old.File(), "PRAGMA integrity_check"), "ok");

        // The old items have a change count of at least 1 (the folder's, given by the step to
        // format 4; a store of format 4 kept each item's own), and are claimed: no reader takes
        // them for new.
        const auto before = store->NumbersOf(store->Locate(kInbox));
        FolderNumbers upgraded;
        for (const auto& item : store->NumberedItems(store->Locate(kInbox), upgraded, {})) {
            EXPECT_GE(item.changed, 1);
            if (recorded < 4) {
                EXPECT_EQ(item.changed, before.changes);
            }
        }
        EXPECT_EQ(store->FirstUnclaimed(store->Locate(kInbox)), before.next);

        // Delivered before any listing: the old items were numbered by the migration, so the new
        // one comes after them, and the folder's change counter moves with each delivery.
        const auto inbox = store->Locate(kInbox);
        DeliverMessage(*store, "example.com", "alice", Message("After the upgrade"));
        FolderNumbers numbers;
        const auto numbered = store->NumberedItems(inbox, numbers, {kSubject});
        ASSERT_EQ(numbered.size(), 3u);
        EXPECT_LT(numbered[0].number, numbered[1].number);
        EXPECT_LT(numbered[1].number, numbered[2].number);
        EXPECT_EQ(numbered[2].item.properties.at(kSubject).Text(), "After the upgrade");
        // Parts of old and new bodies are read alone, which takes a table with row ids.
        EXPECT_EQ(store->TextRange(inbox.key, numbered[0].number, kTextDescription, 6, 5), "Alice");
        EXPECT_EQ(store->TextRange(inbox.key, numbered[2].number, kTextDescription, 0, 5), "Hello");
        EXPECT_GT(numbered[2].changed, before.changes);
        EXPECT_EQ(store->ClaimNew(inbox, numbers.next), numbered[2].number);
        DeliverMessage(*store, "example.com", "alice", Message("And again"));
        EXPECT_GT(store->NumbersOf(inbox).changes, numbers.changes);
        EXPECT_EQ(store->NumbersOf(inbox).next, numbered[2].number + 2);
        store.reset();

        // Opened again it is as it was left: nothing is migrated twice. An old item deleted
        // takes its properties with it.
        store = old.Open();
        EXPECT_EQ(Subjects(*store),
                  "Quarterly figures;Expanded by the gateway;After the upgrade;And again;");
        store->DeleteItems(kInbox, {numbered[0].number});
        EXPECT_EQ(Query(old.File(), "SELECT count(*) FROM properties WHERE item_id NOT IN "
                                    "(SELECT id FROM items)"),
                  "0");
    }
}

TEST(StoreFormat, AnSqliteFileThatIsNotAStoreIsRefused) {
    OldStore other("format-1.db");
    Query(other.File(), "ALTER TABLE items RENAME TO things");
    testsupport::ExpectRefused([&] { other.Open(); }, store::hr::STORE_E_DATABASE, "not a store's");
    EXPECT_EQ(Query(other.File(), "PRAGMA user_version"), "0");
}

TEST(StoreFormat, ManyOpeningAnOldStoreAtOnceEachFindItUpToDate) {
    OldStore old("format-1.db");
    EXPECT_EQ(integration::AtOnce(8,
                                  [&](int) {
                                      old.Open()->NumbersOf(old.Open()->Locate(kInbox));
                                      return std::string();
                                  }),
              std::vector<std::string>{});
    EXPECT_EQ(Query(old.File(), "PRAGMA user_version"), std::to_string(kStoreFormat));
    EXPECT_EQ(Query(old.File(), "SELECT count(*) FROM pragma_table_info('folder_numbers')"), "5");
}

} // namespace
