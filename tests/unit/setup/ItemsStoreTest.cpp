// The registration item operations against the real store in a temporary server folder, and
// the COM+ operations against its real catalog, installing the built Lorvanta.dll from a
// temporary current directory.

#include "platform/com/ClassRegistry.h"
#include "platform/complus/CatalogAdmin.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/store/PropertyNames.h"
#include "setup/ComPlus.h"
#include "setup/Items.h"
#include "tests/integration/store/TempStore.h"
#include "tests/unit/setup/SetupTestClock.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>

using namespace lorvanta::setup;
using namespace storetest;
using platform::Variant;
namespace complus = platform::complus;
namespace fs = std::filesystem;
namespace store = platform::store;
using ::testing::StartsWith;

namespace {

const std::string kCriteria = " WHERE \"DAV:ishidden\" = FALSE";
const std::string kExtra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

class ItemsInStore : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        mailbox = kFileBase + "/alice";
        inbox =
            store->Read(store->Locate(mailbox)).properties.at("urn:schemas:httpmail:inbox").Text();
    }
    std::string Create(const std::string& url, const std::string& folderName) {
        return CreateEventRegistration(log, url, folderName, "Lorvanta.reg", "onsyncsave",
                                       "Lorvanta.LorvantaCls", "SHALLOW", kCriteria, "1", true);
    }
    bool Delete(const std::string& url, const std::string& folderName) {
        return DeleteEventRegistration(log, url, folderName, "Lorvanta.reg", true);
    }
    std::int16_t Find(const std::string& url, const std::string& folderName) {
        std::shared_ptr<platform::ado::Connection> none;
        return FindEventRegistration(log, url, folderName, "Lorvanta.reg", kExtra, true, none);
    }

    setuptest::PinnedClockAndLocale pinned;
    TextErrorLog log;
    std::string mailbox;
    std::string inbox;
};

TEST_F(ItemsInStore, CreateWritesAHiddenRegistrationIntoTheInbox) {
    EXPECT_EQ(Create(mailbox, "INBOX"), inbox);
    const auto item = store->Read(store->Locate(inbox + "/Lorvanta.reg"));
    EXPECT_FALSE(item.isFolder);
    const auto& p = item.properties;
    EXPECT_EQ(p.at("DAV:contentclass"), Variant("urn:content-class:storeeventreg"));
    EXPECT_EQ(p.at(store::kEventNamespace + "EventMethod"), Variant("onsyncsave"));
    EXPECT_EQ(p.at(store::kEventNamespace + "SinkClass"), Variant("Lorvanta.LorvantaCls"));
    EXPECT_EQ(p.at(store::kEventNamespace + "MatchScope"), Variant("SHALLOW"));
    EXPECT_EQ(p.at(store::kEventNamespace + "criteria"), Variant(kCriteria));
    EXPECT_EQ(p.at(store::kEventNamespace + "priority"), Variant("1"));
    EXPECT_EQ(p.at("DAV:ishidden"), Variant(true));
    EXPECT_EQ(p.count(store::kEventNamespace + "enabled"), 0u);
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsInStore, TheInboxIsFoundInAnyCaseAndInBothUrlForms) {
    for (const std::string folderName : {"inbox", "Inbox", "INBOX"}) {
        EXPECT_EQ(Find(mailbox, folderName), 0) << folderName;
        EXPECT_EQ(Create(kHttpBase + "/alice", folderName), kHttpBase + "/alice/Inbox")
            << folderName;
        EXPECT_EQ(Find(mailbox, folderName), 1) << folderName;
        EXPECT_EQ(Find(kHttpBase + "/alice", folderName), 1) << folderName;
        EXPECT_TRUE(Delete(mailbox, folderName)) << folderName;
    }
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsInStore, DeletingAMissingItemFailsAndIsLogged) {
    EXPECT_FALSE(Delete(mailbox, "inbox"));
    EXPECT_THAT(log.Text(), StartsWith(setuptest::kStamp + mailbox + " - ERROR: -"));
    EXPECT_TRUE(Create(mailbox, "inbox") == inbox);
    EXPECT_TRUE(Delete(mailbox, "inbox"));
    EXPECT_FALSE(store->Exists(store->Locate(inbox + "/Lorvanta.reg")));
    EXPECT_EQ(Find(mailbox, "inbox"), 0);
}

TEST_F(ItemsInStore, ALookupInAMissingFolderFailsRatherThanFindingNothing) {
    EXPECT_EQ(Find(mailbox, "NoSuchFolder"), -1);
    EXPECT_EQ(Find(kFileBase + "/nobody", "inbox"), -1);
    EXPECT_EQ(Find(mailbox, "inbox"), 0);
}

TEST_F(ItemsInStore, VisibleItemsAndFoldersOfThatNameDoNotMatch) {
    CreateItem(inbox + "/Lorvanta.reg", {{"DAV:ishidden", Variant(false)}});
    EXPECT_EQ(Find(mailbox, "inbox"), 0);
    store->Delete(inbox + "/Lorvanta.reg");
    store->CreateFolder(inbox + "/Lorvanta.reg");
    EXPECT_EQ(Find(mailbox, "inbox"), 0);
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsInStore, ABorrowedConnectionIsUsedAndLeftClosed) {
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ExOLEDB.DataSource");
    auto given = connection;
    Create(mailbox, "inbox");
    EXPECT_EQ(FindEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", kExtra, true, given), 1);
    EXPECT_EQ(given, connection);
    EXPECT_EQ(connection->State(), platform::ado::adStateClosed);

    connection->Open(mailbox, "", "");
    EXPECT_EQ(FindEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", kExtra, true, given),
              -1);
    EXPECT_EQ(given, connection);
    EXPECT_EQ(connection->State(), platform::ado::adStateClosed);
    EXPECT_THAT(log.Text(), StartsWith(setuptest::kStamp + mailbox + " - ERROR: " +
                                       std::to_string(platform::hr::adErrObjectOpen) + " "));
}

class ComPlusInCatalog : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        workDirectory = folder.Path() / "cwd";
        fs::create_directories(workDirectory);
        fs::current_path(workDirectory);
    }
    void TearDown() override { fs::current_path(previousDirectory); }
    void PutDll() { fs::copy_file(LORVANTA_DLL, workDirectory / "Lorvanta.dll"); }
    std::vector<complus::ApplicationListing> Listing() const {
        return complus::ListApplications(platform::host::ServerFolder(folder.Root()));
    }
    bool SinkRegistered() const {
        return platform::com::ClassRegistry(folder.ComDir())
            .FindByProgId("Lorvanta.LorvantaCls")
            .has_value();
    }

    testsupport::ScopedServerFolder folder;
    setuptest::PinnedClockAndLocale pinned;
    TextErrorLog log;
    fs::path previousDirectory;
    fs::path workDirectory;
};

TEST_F(ComPlusInCatalog, AnEmptyCatalogHasNothingToFindOrRemove) {
    EXPECT_FALSE(FindComPlusApp(log, "Lorvanta"));
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(Listing().empty());
}

TEST_F(ComPlusInCatalog, WithoutTheDllTheApplicationStaysWithoutAComponent) {
    InstallComPlusApp(log, "Lorvanta", "", "");
    EXPECT_THAT(log.Text(),
                StartsWith(setuptest::kStamp + " - ERROR: " +
                           std::to_string(platform::hr::COMADMIN_E_COMPFILE_DOESNOTEXIST) + " "));
    EXPECT_NE(log.Text().find((workDirectory / "Lorvanta.dll").string()), std::string::npos);
    const auto listing = Listing();
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_TRUE(listing[0].components.empty());
    EXPECT_TRUE(FindComPlusApp(log, "Lorvanta"));
}

TEST_F(ComPlusInCatalog, SameNameApplicationsAreRemovedOneAtATimeFromTheLowestIndex) {
    PutDll();
    InstallComPlusApp(log, "Lorvanta", "", "");
    ASSERT_EQ(log.Text(), "");
    // A second one is added although one exists; its component cannot be told apart by name.
    InstallComPlusApp(log, "LORVANTA", "", "");
    EXPECT_THAT(log.Text(),
                StartsWith(setuptest::kStamp + " - ERROR: " +
                           std::to_string(platform::hr::COMADMIN_E_AMBIGUOUS_APPLICATION_NAME) +
                           " "));
    auto listing = Listing();
    ASSERT_EQ(listing.size(), 2u);
    const auto second = listing[1].id;

    RemoveComPlusApp(log, "lorvanta");
    listing = Listing();
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].id, second);
    // The classes went with the first application, which held them.
    EXPECT_FALSE(SinkRegistered());
    EXPECT_TRUE(FindComPlusApp(log, "Lorvanta"));
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_TRUE(Listing().empty());
}

} // namespace
