// The setup modules against a real store and catalog, and with each call to doubles failed in turn.

#include "platform/com/ClassRegistry.h"
#include "platform/complus/CatalogAdmin.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/store/PropertyNames.h"
#include "setup/ComPlus.h"
#include "setup/Items.h"
#include "tests/integration/store/TempStore.h"
#include "tests/unit/setup/SetupDoubles.h"
#include "testsupport/ScopedServerFolder.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <functional>

using namespace lorvanta::setup;
using namespace setuptest;
using namespace storetest;
using platform::Variant;
namespace complus = platform::complus;
namespace fs = std::filesystem;
namespace store = platform::store;
using ::testing::StartsWith;

namespace {

const std::string kMailbox = "file://./backofficestorage/example.com/MBX/alice";
const std::string kExtra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

bool Delete(TextErrorLog& log, const std::string& url, const std::string& folderName) {
    return DeleteEventRegistration(log, url, folderName, "Lorvanta.reg", true);
}
std::int16_t Find(TextErrorLog& log, const std::string& url, const std::string& folderName) {
    std::shared_ptr<platform::ado::Connection> none;
    return FindEventRegistration(log, url, folderName, "Lorvanta.reg", kExtra, true, none);
}

int LogLines(const std::string& text) {
    int lines = 0;
    for (auto at = text.find("\r\n\r\n"); at != std::string::npos;
         at = text.find("\r\n\r\n", at + 4))
        ++lines;
    return lines;
}

TEST(ErrorLog, GeneralDateFollowsTheLocaleAndDropsTheTimeAtMidnight) {
    struct Case {
        QLocale locale;
        QTime time;
        std::string expected;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(20, 34, 7), "12/6/26 8:34:07 PM"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 0), "12/6/26"},
        {QLocale(QLocale::English, QLocale::UnitedStates), QTime(0, 0, 1), "12/6/26 12:00:01 AM"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(20, 34, 7), "06.12.26 20:34:07"},
        {QLocale(QLocale::German, QLocale::Germany), QTime(0, 0, 0), "06.12.26"},
    };
    for (const auto& c : cases) {
        PinnedClockAndLocale pinned(QDateTime(QDate(2026, 12, 6), c.time), c.locale);
        EXPECT_EQ(GeneralDateTime(LocalNow()), c.expected) << c.locale.name().toStdString();
    }
}

class ModuleFailures : public ::testing::Test {
protected:
    bool Logged() const { return log.Text().find("Injected failure") != std::string::npos; }

    // Runs the operation once to learn its calls (`failed` answers whether it reported a
    // failure), then once per call with that call failing. The last `closingCalls` calls are
    // closing steps, whose failure is survived unlogged; where `closesConnection`, an open
    // connection is still closed after a failure.
    void CheckEveryFailure(const std::function<bool()>& failed, bool closesConnection = false,
                           std::size_t closingCalls = 0) {
        ASSERT_FALSE(failed()) << "the clean run failed";
        const auto trace = script.calls;
        ASSERT_TRUE(script.AllReleased());
        for (std::size_t i = 0; i < trace.size(); ++i) {
            script.calls.clear();
            script.made.clear();
            script.FailAt(trace, i);
            log.SetText("earlier\r\n\r\n");
            const std::string where = "failing " + trace[i] + " (call " + std::to_string(i) + ")";
            if (i + closingCalls >= trace.size()) {
                EXPECT_FALSE(failed()) << where;
                EXPECT_EQ(log.Text(), "earlier\r\n\r\n") << where;
                EXPECT_TRUE(script.AllReleased()) << where;
                continue;
            }
            EXPECT_TRUE(failed()) << where;
            ASSERT_GE(script.calls.size(), i + 1) << where;
            const auto end = script.calls.begin() + static_cast<std::ptrdiff_t>(i) + 1;
            EXPECT_TRUE(std::equal(script.calls.begin(), end, trace.begin())) << where;
            const std::vector<std::string> after(end, script.calls.end());
            const bool connectionOpen =
                std::count(script.calls.begin(), end - 1, "Connection.Open") > 0 &&
                trace[i] != "Connection.Close";
            if (closesConnection && connectionOpen)
                EXPECT_EQ(after, std::vector<std::string>{"Connection.Close"}) << where;
            else
                EXPECT_TRUE(after.empty()) << where << ": then " << after.front();
            EXPECT_TRUE(script.AllReleased()) << where;
            EXPECT_EQ(LogLines(log.Text()), 2) << where;
            EXPECT_NE(log.Text().find(" - ERROR: -2147217865 Injected failure of " + trace[i] +
                                      "\r\n\r\nearlier\r\n\r\n"),
                      std::string::npos)
                << where;
        }
    }

    PinnedClockAndLocale pinned;
    Script script;
    ScriptedPlatform platformDoubles{script};
    TextErrorLog log;
};

TEST_F(ModuleFailures, CreateRegistrationStopsAtEachCall) {
    CheckEveryFailure([&] { return RegisterSink(log, kMailbox, "inbox", "SHALLOW", "").empty(); });
}

TEST_F(ModuleFailures, DeleteRegistrationStopsAtEachCall) {
    CheckEveryFailure([&] { return !Delete(log, kMailbox, "inbox"); });
}

TEST_F(ModuleFailures, FindRegistrationStopsAtEachCallButClosesTheConnection) {
    CheckEveryFailure([&] { return Find(log, kMailbox, "inbox") != 1; }, true, 1);
}

TEST_F(ModuleFailures, FindComPlusAppStopsAtEachCallAndAnswersFalse) {
    script.applications = {"Other", "Lorvanta"};
    CheckEveryFailure([&] { return !FindComPlusApp(log, "Lorvanta"); });
}

TEST_F(ModuleFailures, RemoveComPlusAppStopsAtEachCall) {
    script.applications = {"Other", "Lorvanta"};
    CheckEveryFailure([&] {
        RemoveComPlusApp(log, "Lorvanta");
        return Logged();
    });
}

TEST_F(ModuleFailures, InstallComPlusAppStopsAtEachCall) {
    CheckEveryFailure([&] {
        InstallComPlusApp(log, "Lorvanta", "EXAMPLE\\svc", "pw");
        return Logged();
    });
}

class ItemsInStore : public TempStore {
protected:
    void SetUp() override {
        TempStore::SetUp();
        mailbox = kFileBase + "/alice";
        inbox =
            store->Read(store->Locate(mailbox)).properties.at("urn:schemas:httpmail:inbox").Text();
    }

    setuptest::PinnedClockAndLocale pinned;
    TextErrorLog log;
    std::string mailbox;
    std::string inbox;
};

TEST_F(ItemsInStore, CreateWritesAHiddenRegistrationIntoTheInbox) {
    EXPECT_EQ(RegisterSink(log, mailbox, "INBOX"), inbox);
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
        EXPECT_EQ(Find(log, mailbox, folderName), 0) << folderName;
        EXPECT_EQ(RegisterSink(log, kHttpBase + "/alice", folderName), kHttpBase + "/alice/Inbox")
            << folderName;
        EXPECT_EQ(Find(log, mailbox, folderName), 1) << folderName;
        EXPECT_EQ(Find(log, kHttpBase + "/alice", folderName), 1) << folderName;
        EXPECT_TRUE(Delete(log, mailbox, folderName)) << folderName;
        EXPECT_FALSE(store->Exists(store->Locate(inbox + "/Lorvanta.reg"))) << folderName;
    }
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsInStore, DeletingAMissingItemFailsAndIsLogged) {
    EXPECT_FALSE(Delete(log, mailbox, "inbox"));
    EXPECT_THAT(log.Text(), StartsWith(setuptest::kStamp + mailbox + " - ERROR: -"));
}

TEST_F(ItemsInStore, ALookupInAMissingFolderFailsRatherThanFindingNothing) {
    EXPECT_EQ(Find(log, mailbox, "NoSuchFolder"), -1);
    EXPECT_EQ(Find(log, kFileBase + "/nobody", "inbox"), -1);
    EXPECT_EQ(Find(log, mailbox, "inbox"), 0);
}

TEST_F(ItemsInStore, VisibleItemsAndFoldersOfThatNameDoNotMatch) {
    CreateItem(inbox + "/Lorvanta.reg", {{"DAV:ishidden", Variant(false)}});
    EXPECT_EQ(Find(log, mailbox, "inbox"), 0);
    store->Delete(inbox + "/Lorvanta.reg");
    store->CreateFolder(inbox + "/Lorvanta.reg");
    EXPECT_EQ(Find(log, mailbox, "inbox"), 0);
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ItemsInStore, ABorrowedConnectionIsUsedAndLeftClosed) {
    auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
    connection->SetProvider("ExOLEDB.DataSource");
    auto given = connection;
    RegisterSink(log, mailbox, "inbox");
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
    std::vector<complus::ApplicationListing> Listing() const {
        return complus::ListApplications(platform::host::ServerFolder(folder.Root()));
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
    fs::copy_file(LORVANTA_DLL, workDirectory / "Lorvanta.dll");
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
    EXPECT_FALSE(
        platform::com::ClassRegistry(folder.ComDir()).FindByProgId("Lorvanta.LorvantaCls"));
    EXPECT_TRUE(FindComPlusApp(log, "Lorvanta"));
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_TRUE(Listing().empty());
}

} // namespace
