// Stores made by earlier builds, kept as files under tests/fixtures/stores (see make-fixtures.sh
// there): each opens, is brought up to the current format once, keeps what it held, and takes
// new mail. (A store of a newer format: store_format_test.py.)

#include "platform/store/StoreFormat.h"
#include "platform/core/Error.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

using namespace platform;
using namespace platform::store;
namespace store = platform::store;

namespace fs = std::filesystem;

namespace {

const std::string kInbox = "file://./backofficestorage/example.com/mbx/alice/Inbox";
const fs::path kFixtures = fs::path(LORVANTA_FIXTURES) / "stores";

// One statement's first column, straight from the file, as another program would see it.
std::string Query(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

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

// A server folder whose store is a copy of a fixture file.
class OldStore {
public:
    explicit OldStore(const std::string& fixture) {
        host::ServerFolder folder(scoped_.Path());
        folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
        fs::create_directories(File().parent_path());
        fs::copy_file(kFixtures / fixture, File());
    }
    fs::path File() const { return scoped_.Path() / "store" / "store.db"; }
    std::shared_ptr<Store> Open() const { return Store::Open(host::ServerFolder(scoped_.Path())); }

private:
    testsupport::ScopedServerFolder scoped_;
};

struct FormatCase {
    const char* name;
    const char* fixture;
    int tables; // tables the fixture has before it is opened
};

class EarlierFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(EarlierFormat, IsBroughtUpToDateKeepsItsMailAndTakesNewMail) {
    OldStore old(GetParam().fixture);
    ASSERT_EQ(Query(old.File(), "SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
              std::to_string(GetParam().tables));

    auto store = old.Open();
    EXPECT_EQ(Query(old.File(), "PRAGMA user_version"), std::to_string(kStoreFormat));
    EXPECT_EQ(Subjects(*store), "Quarterly figures;Expanded by the gateway;");

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
    DeliverMessage(*store, "example.com", "alice", Message("And again"));
    EXPECT_GT(store->NumbersOf(inbox).changes, numbers.changes);
    EXPECT_EQ(store->NumbersOf(inbox).next, numbered[2].number + 2);
    store.reset();

    // Opened again it is as it was left: nothing is migrated twice.
    EXPECT_EQ(Subjects(*old.Open()),
              "Quarterly figures;Expanded by the gateway;After the upgrade;And again;");
}

INSTANTIATE_TEST_SUITE_P(Stores, EarlierFormat,
                         ::testing::Values(FormatCase{"Format1", "format-1.db", 4},
                                           FormatCase{"Format2", "format-2.db", 6},
                                           FormatCase{"Format3UnrecordedVersion",
                                                      "format-3-unrecorded.db", 6}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StoreFormat, ANewStoreRecordsTheCurrentFormat) {
    testsupport::ScopedServerFolder scoped;
    host::ServerFolder folder(scoped.Path());
    folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
    Store::Open(folder);
    EXPECT_EQ(Query(scoped.Path() / "store" / "store.db", "PRAGMA user_version"),
              std::to_string(kStoreFormat));
}

TEST(StoreFormat, AnSqliteFileThatIsNotAStoreIsRefused) {
    OldStore other("format-1.db");
    Query(other.File(), "ALTER TABLE items RENAME TO things");
    try {
        other.Open();
        FAIL() << "a database without the store's tables was opened";
    } catch (const Error& refused) {
        EXPECT_EQ(refused.Number(), store::hr::STORE_E_DATABASE);
        EXPECT_NE(refused.Description().find("not a store's"), std::string::npos);
    }
    EXPECT_EQ(Query(other.File(), "PRAGMA user_version"), "0");
}

TEST(StoreFormat, ManyOpeningAnOldStoreAtOnceEachFindItUpToDate) {
    OldStore old("format-1.db");
    std::atomic<int> failures = 0;
    std::vector<std::thread> openers;
    for (int i = 0; i < 8; ++i)
        openers.emplace_back([&] {
            try {
                old.Open()->NumbersOf(old.Open()->Locate(kInbox));
            } catch (const std::exception&) {
                ++failures;
            }
        });
    for (auto& opener : openers)
        opener.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Query(old.File(), "PRAGMA user_version"), std::to_string(kStoreFormat));
    EXPECT_EQ(Query(old.File(), "SELECT count(*) FROM pragma_table_info('folder_numbers')"), "4");
}

} // namespace
