// The store through its ADO objects: read-only records, transactions, the namespace root and the
// case-insensitive names that callers rely on.

#include "TempStore.h"

#include "platform/core/Error.h"
#include "platform/store/NamespaceRoot.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

using namespace platform;
using namespace storetest;
namespace hrs = platform::store::hr;

namespace {

std::int32_t FailureOf(const std::function<void()>& call) {
    return testsupport::FailureOf(call).number;
}

// The store through the ADO objects. What the setup program does with it (the Inbox lookup in
// both URL forms, creating over an item, deleting, the registration lookup and the quote that
// breaks it, the store-wide folder) is checked end to end by its store tests (ItemsInStore, in
// SetupModulesTest); refused URLs by StoreUrlRefuses (QueryTest).
using Provider = TempStore;

TEST_F(Provider, ARecordOpenedForReadingCannotBeWritten) {
    CreateItem(kInbox + "/r", {});
    auto connection = Connect(kMailbox);
    auto record = OpenRecord(connection, kInbox + "/r", 1, -1);
    EXPECT_EQ(FailureOf([&] { record->Fields()->Item("urn:test:x")->SetValue(Variant(1)); }),
              hrs::DB_SEC_E_PERMISSIONDENIED);
}

TEST_F(Provider, ATransactionStoresItsWritesTogetherOrNothing) {
    {
        auto connection = Connect(kMailbox);
        connection->BeginTrans();
        CreateItem(kInbox + "/t1", {{"urn:test:a", Variant("a")}}, connection);
        // Inside the transaction the item is there for this connection.
        EXPECT_NO_THROW(OpenRecord(connection, kInbox + "/t1", 1, -1));
    } // released without a commit
    EXPECT_FALSE(store->Exists(store->Locate(kInbox + "/t1")));

    auto connection = Connect(kMailbox);
    connection->BeginTrans();
    CreateItem(kInbox + "/t2", {}, connection);
    connection->RollbackTrans();
    EXPECT_FALSE(store->Exists(store->Locate(kInbox + "/t2")));
    EXPECT_EQ(FailureOf([&] { connection->CommitTrans(); }), hrs::XACT_E_NOTRANSACTION);

    connection->BeginTrans();
    EXPECT_EQ(FailureOf([&] { connection->BeginTrans(); }), hrs::XACT_E_XTIONEXISTS);
    for (const auto* name : {"a", "b"})
        CreateItem(kInbox + "/" + name, {}, connection);
    connection->CommitTrans();
    connection->Close();
    EXPECT_EQ(store->Children(store->Locate(kInbox), false).size(), 2u);
}

TEST_F(Provider, AnItemOrScopeThatIsNotThereLeavesTheConnectionUsable) {
    CreateItem(kInbox + "/there", {{"urn:test:a", Variant("a")}});
    auto connection = Connect(kMailbox);
    const auto scope = [](const std::string& folder) {
        return "select \"urn:test:a\" from scope('shallow traversal of \"" + folder + "\"')";
    };
    EXPECT_EQ(FailureOf([&] { OpenRecord(connection, kInbox + "/gone", 1, -1); }),
              hrs::DB_E_NOTFOUND);
    EXPECT_EQ(FailureOf([&] { connection->Execute(scope(kFileBase + "/alice/Gone")); }),
              hrs::DB_E_NOTFOUND);
    // Each failed inside its read; the next read and a write through the same connection work.
    EXPECT_EQ(connection->Execute(scope(kInbox))->RecordCount(), 1);
    CreateItem(kInbox + "/new", {}, connection);
    EXPECT_TRUE(store->Exists(store->Locate(kInbox + "/new")));
}

TEST_F(Provider, TheNamespaceRootListsTheDomainFoldersFirstOneFirst) {
    store->CreateDomainFolder("second.org");
    EXPECT_EQ(store::ListNamespaceRoot("\\\\.\\backofficestorage\\"),
              (std::vector<std::string>{"example.com", "second.org"}));
    EXPECT_EQ(store::ListNamespaceRoot(*store, "\\\\.\\BackOfficeStorage"),
              (std::vector<std::string>{"example.com", "second.org"}));
    EXPECT_THROW(store::ListNamespaceRoot(*store, "C:\\"), Error);
}

TEST_F(Provider, NamesAreUniqueWithoutRegardToCase) {
    EXPECT_EQ(FailureOf([&] { store->CreateMailbox("EXAMPLE.COM", "Alice"); }),
              hrs::DB_E_RESOURCEEXISTS);
    EXPECT_EQ(FailureOf([&] { store->CreateDomainFolder("Example.Com"); }),
              hrs::DB_E_RESOURCEEXISTS);
    EXPECT_EQ(FailureOf([&] { store->CreateFolder(kFileBase + "/alice/INBOX"); }),
              hrs::DB_E_RESOURCEEXISTS);
    EXPECT_EQ(store->Mailboxes("example.com").size(), 3u);
}

TEST_F(Provider, AnAliasThatIsNoPlainPathStepIsNoMailboxName) {
    for (const auto& alias : {std::string("."), std::string(".."), std::string("a/b"),
                              std::string("a\0b", 3), std::string()})
        EXPECT_EQ(FailureOf([&] { store->CreateMailbox("example.com", alias); }),
                  platform::hr::E_INVALIDARG)
            << alias;
    EXPECT_EQ(store->Mailboxes("example.com").size(), 3u);
}

} // namespace
