// Property values, name folding and database failures.

#include "platform/store/PropertyCodec.h"
#include "platform/core/Error.h"
#include "platform/store/Database.h"
#include "platform/store/FoldedName.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>

using namespace platform;
using namespace platform::store;

namespace {

TEST(PropertyCodec, ValuesOfEveryKindSurviveEncodingAndDecoding) {
    for (const auto& value :
         {Variant(""), Variant("text"), Variant(true), Variant(false), Variant(0),
          Variant(static_cast<std::int64_t>(-9007199254740993)), Variant::Null(),
          Variant(Variant::TextArray{}), Variant(Variant::TextArray{""}),
          Variant(Variant::TextArray{"a,b", "12:x", "", "ünï"})}) {
        const auto encoded = EncodeValue(value);
        EXPECT_EQ(DecodeValue(encoded.kind, encoded.bytes), value);
    }
}

TEST(PropertyCodec, RefusesAnEmptyValue) {
    EXPECT_THROW(EncodeValue(Variant()), Error);
}

// No damaged length may wrap around or ask for more memory than the bytes hold.
TEST(PropertyCodec, DamagedBytesFailAsTheStoresError) {
    struct Case {
        const char* name;
        PropertyKind kind;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"length that wraps around", PropertyKind::TextArray, "18446744073709551595:abc"},
        {"length past the end", PropertyKind::TextArray, "1:a4:abc"},
        {"length beyond 64 bits", PropertyKind::TextArray, "99999999999999999999:a"},
        {"length not a number", PropertyKind::TextArray, "x:abc"},
        {"empty length", PropertyKind::TextArray, ":abc"},
        {"negative length", PropertyKind::TextArray, "-1:abc"},
        {"length with a sign", PropertyKind::TextArray, "+1:a"},
        {"length with blanks", PropertyKind::TextArray, " 1:a"},
        {"no colon", PropertyKind::TextArray, "1:a12"},
        {"integer not a number", PropertyKind::Integer, "twelve"},
        {"integer with trailing bytes", PropertyKind::Integer, "12x"},
        {"integer out of range", PropertyKind::Integer, "9223372036854775808"},
        {"empty integer", PropertyKind::Integer, ""},
        {"unknown kind", static_cast<PropertyKind>(77), "x"},
    };
    for (const auto& c : cases) {
        const auto failure = testsupport::FailureOf([&] { DecodeValue(c.kind, c.bytes); });
        EXPECT_EQ(failure.number, store::hr::STORE_E_DATABASE) << c.name;
        EXPECT_NE(failure.description.find("damaged"), std::string::npos) << c.name;
    }
}

TEST(FoldedName, FoldsAsciiAndOtherLetters) {
    EXPECT_EQ(FoldedName("Inbox"), FoldedName("INBOX"));
    EXPECT_EQ(FoldedName("ÄRGER"), FoldedName("ärger"));
    EXPECT_NE(FoldedName("Inbox"), FoldedName("Inbox2"));
    EXPECT_EQ(FoldedName("SystemMailbox{AB-12}"), "systemmailbox{ab-12}");
}

TEST(DatabaseErrors, NameTheCauseTheFileAndWhatWasBeingDone) {
    const testsupport::ScopedServerFolder folder;
    const auto file = folder.Path() / "store.db";
    store::Database database(file);
    const struct {
        int sqliteCode;
        std::int32_t number;
        const char* says;
    } cases[] = {
        // A full disk and a read-only file are met for real in StoreDiskFaultTest.
        {SQLITE_READONLY_RECOVERY, store::hr::E_ACCESSDENIED, "read-only"},
        {SQLITE_IOERR_WRITE, store::hr::STG_E_WRITEFAULT, "disk failed"},
        {SQLITE_IOERR_FSYNC, store::hr::STG_E_WRITEFAULT, "disk failed"},
        {SQLITE_IOERR_READ, store::hr::STG_E_READFAULT, "failed a read"},
        {SQLITE_IOERR_SHORT_READ, store::hr::STG_E_READFAULT, "failed a read"},
        {SQLITE_CORRUPT, store::hr::STORE_E_DATABASE, "failed while"},
        {SQLITE_BUSY, store::hr::STORE_E_DATABASE, "failed while"},
    };
    for (const auto& c : cases) {
        const auto error = store::DatabaseError(database.Handle(), c.sqliteCode, "saving an item",
                                                "the library's own words");
        EXPECT_EQ(error.Number(), c.number) << c.sqliteCode;
        for (const auto& part : {std::string(c.says), file.string(), std::string("saving an item"),
                                 std::string("the library's own words")})
            EXPECT_NE(error.Description().find(part), std::string::npos) << error.Description();
    }
}

} // namespace
