#include "TempStore.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/NamespaceRoot.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"

using namespace platform;
using namespace storetest;
namespace hrs = platform::store::hr;

namespace {

const std::string DQ = "\"";
const std::string kCriteria = " WHERE " + DQ + "DAV:ishidden" + DQ + " = FALSE";
const std::string kExtraCriteria =
    " AND " + DQ + "DAV:ishidden" + DQ + " = true AND " + DQ + "DAV:isfolder" + DQ + " = false ";

std::int32_t FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.Number();
    }
    return 0;
}

class Provider : public TempStore {
protected:
    // What the setup program's registration lookup does, returning 1, 0 or the failure number.
    std::int64_t CountRegistrations(const std::string& folderUrl, const std::string& name) {
        auto connection = Connect(folderUrl);
        auto recordset = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        const auto query = "select " + (" " + DQ + "DAV:displayname" + DQ) +
                           " from scope ('shallow traversal of " + DQ + folderUrl + DQ + "') " +
                           " WHERE " + DQ + "DAV:displayname" + DQ + " = '" + name + "'" +
                           kExtraCriteria;
        recordset->Open(query, connection, -1, -1, -1);
        std::int64_t rows = 0;
        while (!recordset->Eof()) {
            EXPECT_TRUE(text::EqualsIgnoreCase(
                recordset->Fields()->Item("DAV:displayname")->Value().Text(), name));
            ++rows;
            recordset->MoveNext();
        }
        recordset->Close();
        connection->Close();
        return rows;
    }

    // The registration item as the setup program writes it, inside a transaction.
    std::string CreateRegistration(const std::string& mailboxUrl, const std::string& itemName,
                                   const std::string& scope = "SHALLOW") {
        auto connection = Connect(mailboxUrl);
        auto lookup = OpenRecord(connection, mailboxUrl, 1, -1);
        std::string folder = mailboxUrl;
        if (lookup->Fields()->Count() > 0)
            folder = lookup->Fields()->Item("urn:schemas:httpmail:inbox")->Value().Text();
        lookup->Close();
        connection->BeginTrans();
        auto record = OpenRecord(connection, folder + "/" + itemName, 3, 0x4000000);
        auto fields = record->Fields();
        const auto& ns = store::kEventNamespace;
        fields->Item("DAV:contentclass")->SetValue(Variant("urn:content-class:storeeventreg"));
        fields->Item(ns + "EventMethod")->SetValue(Variant("onsyncsave"));
        fields->Item(ns + "SinkClass")->SetValue(Variant("Lorvanta.LorvantaCls"));
        fields->Item(ns + "MatchScope")->SetValue(Variant(scope));
        fields->Item(ns + "criteria")->SetValue(Variant(kCriteria));
        fields->Item(ns + "priority")->SetValue(Variant("1"));
        fields->Item("DAV:ishidden")->SetValue(Variant(true));
        fields->Update();
        record->Close();
        connection->CommitTrans();
        return folder;
    }
};

TEST_F(Provider, BothUrlFormsAddressTheSameItem) {
    CreateItem(kFileBase + "/alice/Inbox/note", {{"urn:test:text", Variant("hello")}});
    auto connection = Connect(kHttpBase + "/alice");
    auto record = OpenRecord(connection, kHttpBase + "/ALICE/inbox/NOTE", 1, -1);
    EXPECT_EQ(record->Fields()->Item("urn:test:text")->Value(), Variant("hello"));
    EXPECT_EQ(record->Fields()->Item("DAV:displayname")->Value(), Variant("note"));
    EXPECT_EQ(record->Fields()->Item("DAV:isfolder")->Value(), Variant(false));
    EXPECT_EQ(record->Fields()->Item("DAV:ishidden")->Value(), Variant(false));
}

TEST_F(Provider, ConnectionsRefuseUrlsOfOtherServersAndUnknownNames) {
    struct Case {
        std::string url;
        std::int32_t number;
    };
    const std::vector<Case> cases = {
        {"http://mail02.example.com/exadmin/example.com/mbx/alice", hrs::ERROR_BAD_NETPATH},
        {"file://./backofficestorage/other.org/mbx/alice", hrs::DB_E_NOTFOUND},
        {kFileBase + "/carol", hrs::DB_E_NOTFOUND},
        {kHttpBase + "/carol", hrs::DB_E_NOTFOUND},
        {"not a url", hrs::ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        try {
            Connect(c.url);
            ADD_FAILURE() << "opened " << c.url;
        } catch (const Error& error) {
            EXPECT_EQ(error.Number(), c.number) << c.url;
        }
    }
}

TEST_F(Provider, TheInboxPropertyComesInTheFormTheMailboxWasOpenedWith) {
    for (const auto& base : {kFileBase, kHttpBase}) {
        auto connection = Connect(base + "/alice");
        auto record = OpenRecord(connection, base + "/alice", 1, -1);
        EXPECT_GT(record->Fields()->Count(), 0);
        EXPECT_EQ(record->Fields()->Item("urn:schemas:httpmail:inbox")->Value(),
                  Variant(base + "/alice/Inbox"));
    }
}

TEST_F(Provider, CreatingOverAnExistingItemReplacesIt) {
    CreateItem(kFileBase + "/alice/Inbox/x", {{"urn:test:old", Variant("old")}});
    CreateItem(kFileBase + "/alice/Inbox/X", {{"urn:test:new", Variant(7)}});
    const auto item = store->Read(store->Locate(kFileBase + "/alice/Inbox/x"));
    EXPECT_EQ(item.properties.count("urn:test:old"), 0u);
    EXPECT_EQ(item.properties.at("urn:test:new"), Variant(7));
    EXPECT_EQ(store->Children(store->Locate(kFileBase + "/alice/Inbox"), false).size(), 1u);
}

TEST_F(Provider, OpeningAMissingItemThatMustExistFails) {
    auto connection = Connect(kFileBase + "/alice");
    EXPECT_EQ(FailureOf([&] { OpenRecord(connection, kFileBase + "/alice/Inbox/none", 1, -1); }),
              hrs::DB_E_NOTFOUND);
    // A folder that does not exist cannot receive a new item either.
    EXPECT_EQ(
        FailureOf([&] { OpenRecord(connection, kFileBase + "/alice/Nowhere/x", 3, 0x4000000); }),
        hrs::DB_E_NOTFOUND);
}

TEST_F(Provider, DeletingAnItemRemovesItAndDeletingItAgainFails) {
    CreateItem(kFileBase + "/alice/Inbox/gone", {});
    auto connection = Connect(kFileBase + "/alice");
    auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/gone", 3, -1);
    record->DeleteRecord(kFileBase + "/alice/Inbox/gone", false);
    EXPECT_FALSE(store->Exists(store->Locate(kFileBase + "/alice/Inbox/gone")));
    EXPECT_EQ(FailureOf([&] { record->DeleteRecord(kFileBase + "/alice/Inbox/gone", false); }),
              hrs::DB_E_NOTFOUND);
}

TEST_F(Provider, AMissingPropertyReadsEmptyAndWritingItCreatesIt) {
    CreateItem(kFileBase + "/alice/Inbox/m", {});
    auto connection = Connect(kFileBase + "/alice");
    auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/m", 3, -1);
    auto fields = record->Fields();
    const auto before = fields->Count();
    EXPECT_TRUE(fields->Item(store::kKeywords)->Value().IsEmpty());
    fields->Item(store::kKeywords)->SetValue(Variant(Variant::TextArray{"a@example.com"}));
    fields->Update();
    EXPECT_EQ(fields->Count(), before + 1);
    auto reread = OpenRecord(connection, kFileBase + "/alice/Inbox/m", 1, -1);
    EXPECT_EQ(reread->Fields()->Item(store::kKeywords)->Value(),
              Variant(Variant::TextArray{"a@example.com"}));
}

TEST_F(Provider, FieldsByIndexCoverEveryPropertyAndNoMore) {
    CreateItem(kFileBase + "/alice/Inbox/i", {{"urn:test:a", Variant(1)}});
    auto connection = Connect(kFileBase + "/alice");
    auto fields = OpenRecord(connection, kFileBase + "/alice/Inbox/i", 1, -1)->Fields();
    std::set<std::string> names;
    for (std::int32_t i = 0; i < fields->Count(); ++i)
        names.insert(fields->Item(i)->Name());
    EXPECT_EQ(names, (std::set<std::string>{"DAV:contentclass", "DAV:displayname", "DAV:ishidden",
                                            "DAV:isfolder", "urn:test:a"}));
    EXPECT_EQ(FailureOf([&] { fields->Item(fields->Count()); }), hr::adErrItemNotFound);
    EXPECT_EQ(FailureOf([&] { fields->Item(-1); }), hr::adErrItemNotFound);
}

TEST_F(Provider, ARecordOpenedForReadingCannotBeWritten) {
    CreateItem(kFileBase + "/alice/Inbox/r", {});
    auto connection = Connect(kFileBase + "/alice");
    auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/r", 1, -1);
    EXPECT_EQ(FailureOf([&] { record->Fields()->Item("urn:test:x")->SetValue(Variant(1)); }),
              hrs::DB_SEC_E_PERMISSIONDENIED);
}

TEST_F(Provider, AConnectionReleasedWithoutCommitStoresNothing) {
    {
        auto connection = Connect(kFileBase + "/alice");
        connection->BeginTrans();
        auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/t1", 3, 0x4000000);
        record->Fields()->Item("urn:test:a")->SetValue(Variant("a"));
        record->Fields()->Update();
        record->Close();
        // Inside the transaction the item is there for this connection.
        EXPECT_NO_THROW(OpenRecord(connection, kFileBase + "/alice/Inbox/t1", 1, -1));
    }
    EXPECT_FALSE(store->Exists(store->Locate(kFileBase + "/alice/Inbox/t1")));

    auto connection = Connect(kFileBase + "/alice");
    connection->BeginTrans();
    auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/t2", 3, 0x4000000);
    record->Fields()->Update();
    connection->RollbackTrans();
    EXPECT_FALSE(store->Exists(store->Locate(kFileBase + "/alice/Inbox/t2")));
    EXPECT_EQ(FailureOf([&] { connection->CommitTrans(); }), hrs::XACT_E_NOTRANSACTION);
}

TEST_F(Provider, WritesBetweenBeginAndCommitAreStoredTogether) {
    auto connection = Connect(kFileBase + "/alice");
    connection->BeginTrans();
    EXPECT_EQ(FailureOf([&] { connection->BeginTrans(); }), hrs::XACT_E_XTIONEXISTS);
    for (const auto* name : {"a", "b"}) {
        auto record = OpenRecord(connection, kFileBase + "/alice/Inbox/" + name, 3, 0x4000000);
        record->Fields()->Update();
        record->Close();
    }
    connection->CommitTrans();
    connection->Close();
    EXPECT_EQ(store->Children(store->Locate(kFileBase + "/alice/Inbox"), false).size(), 2u);
}

TEST_F(Provider, TheRegistrationLookupFindsOnlyHiddenNonFolderItemsOfThatName) {
    const auto inbox = CreateRegistration(kFileBase + "/alice", "Lorvanta.reg");
    EXPECT_EQ(inbox, kFileBase + "/alice/Inbox");
    EXPECT_EQ(CountRegistrations(inbox, "Lorvanta.reg"), 1);
    EXPECT_EQ(CountRegistrations(kHttpBase + "/alice/INBOX", "lorvanta.REG"), 1);
    EXPECT_EQ(CountRegistrations(kFileBase + "/bob/Inbox", "Lorvanta.reg"), 0);

    CreateItem(kFileBase + "/bob/Inbox/Lorvanta.reg", {});
    EXPECT_EQ(CountRegistrations(kFileBase + "/bob/Inbox", "Lorvanta.reg"), 0);
    store->CreateFolder(kFileBase + "/bob/Inbox/Folder.reg");
    {
        auto connection = Connect(kFileBase + "/bob");
        auto record = OpenRecord(connection, kFileBase + "/bob/Inbox/Folder.reg", 3, -1);
        record->Fields()->Item("DAV:ishidden")->SetValue(Variant(true));
        record->Fields()->Update();
    }
    EXPECT_EQ(CountRegistrations(kFileBase + "/bob/Inbox", "Folder.reg"), 0);
}

TEST_F(Provider, TheLookupFailsOnAMissingFolderAndOnAQuoteInTheName) {
    EXPECT_EQ(FailureOf([&] { CountRegistrations(kFileBase + "/alice/Nowhere", "x"); }),
              hrs::DB_E_NOTFOUND);
    EXPECT_EQ(FailureOf([&] { CountRegistrations(kFileBase + "/alice/Inbox", "O'Brien.reg"); }),
              hr::DB_E_ERRORSINCOMMAND);
}

TEST_F(Provider, DeepTraversalReachesSubfolders) {
    store->CreateFolder(kFileBase + "/alice/Inbox/Sub");
    CreateItem(kFileBase + "/alice/Inbox/Sub/deep", {});
    CreateItem(kFileBase + "/alice/Inbox/flat", {});
    auto connection = Connect(kFileBase + "/alice");
    auto count = [&](const char* traversal) {
        auto rows =
            connection->Execute(std::string("select \"DAV:displayname\" from scope('") + traversal +
                                " traversal of \"" + kFileBase + "/alice/Inbox\"')");
        return rows->RecordCount();
    };
    EXPECT_EQ(count("shallow"), 2);
    EXPECT_EQ(count("deep"), 3);
}

TEST_F(Provider, TheRegistrationItemGoesToTheStoreWideFolderOfTheSystemMailbox) {
    auto connection = Connect(systemMailbox);
    connection->BeginTrans();
    auto record = OpenRecord(connection, systemMailbox + "/StoreEvents/GlobalEvents/Lorvanta.reg",
                             3, 0x4000000);
    record->Fields()->Item("DAV:ishidden")->SetValue(Variant(true));
    record->Fields()->Update();
    connection->CommitTrans();
    EXPECT_EQ(CountRegistrations(systemMailbox + "/storeevents/globalevents", "Lorvanta.reg"), 1);
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
