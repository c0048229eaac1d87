// What a person reads when the disk under the store fails: a read-only file and failing reads
// and writes each have their own number and say so; anything else stays the store's general
// database failure.

#include "platform/store/Database.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace store = platform::store;

struct Case {
    const char* name;
    int sqliteCode;
    std::int32_t number;
    const char* says;
};

class DatabaseErrors : public ::testing::TestWithParam<Case> {};

TEST_P(DatabaseErrors, NameTheCauseTheFileAndWhatWasBeingDone) {
    const testsupport::ScopedServerFolder folder;
    const auto file = folder.Path() / "store.db";
    store::Database database(file);
    const auto error = store::DatabaseError(database.Handle(), GetParam().sqliteCode,
                                            "saving an item", "the library's own words");
    EXPECT_EQ(error.Number(), GetParam().number);
    for (const auto& part : {std::string(GetParam().says), file.string(),
                             std::string("saving an item"), std::string("the library's own words")})
        EXPECT_NE(error.Description().find(part), std::string::npos) << error.Description();
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DatabaseErrors,
    ::testing::Values(
        // A full disk and a read-only file are met for real in StoreDiskFaultTest.
        Case{"ReadOnlyRecovery", SQLITE_READONLY_RECOVERY, store::hr::E_ACCESSDENIED, "read-only"},
        Case{"WriteFailed", SQLITE_IOERR_WRITE, store::hr::STG_E_WRITEFAULT, "disk failed"},
        Case{"SyncFailed", SQLITE_IOERR_FSYNC, store::hr::STG_E_WRITEFAULT, "disk failed"},
        Case{"ReadFailed", SQLITE_IOERR_READ, store::hr::STG_E_READFAULT, "failed a read"},
        Case{"ShortRead", SQLITE_IOERR_SHORT_READ, store::hr::STG_E_READFAULT, "failed a read"},
        Case{"Corrupt", SQLITE_CORRUPT, store::hr::STORE_E_DATABASE, "failed while"},
        Case{"Busy", SQLITE_BUSY, store::hr::STORE_E_DATABASE, "failed while"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
