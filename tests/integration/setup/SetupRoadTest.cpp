// The whole road of the setup modules: install the sink into COM+, register it on a mailbox's
// Inbox, deliver mail through the store, then take it all down again.

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "setup/ComPlus.h"
#include "setup/Items.h"
#include "testsupport/DirectoryEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace lorvanta::setup;
using platform::Variant;
using testing_directory::DirectoryEnvironment;
namespace store = platform::store;
namespace fs = std::filesystem;

namespace {

const std::string kCriteria = " WHERE \"DAV:ishidden\" = FALSE";
const std::string kExtra = " AND \"DAV:ishidden\" = true AND \"DAV:isfolder\" = false ";

std::string WithoutPrefix(const std::string& proxy) {
    return proxy.substr(proxy.find(':') + 1);
}

class SetupRoad : public ::testing::Test {
protected:
    void SetUp() override {
        auto& environment = DirectoryEnvironment::Current();
        root = environment.Root();
        const auto& sample = environment.Sample();
        alias = sample.localAliases.front();
        address = WithoutPrefix(sample.firstLocalProxyAddresses.at(1));
        domain = environment.Machine().domainDnsName;

        theStore = store::Store::Open(platform::host::ServerFolder(root));
        theStore->CreateDomainFolder(domain);
        mailbox = theStore->CreateMailbox(domain, alias);

        // The setup program installs the DLL from its current directory.
        previousDirectory = fs::current_path();
        workDirectory = root / "setup-cwd";
        fs::create_directories(workDirectory);
        fs::copy_file(LORVANTA_DLL, workDirectory / "Lorvanta.dll");
        fs::current_path(workDirectory);
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    // Delivers a message to the mailbox and returns the stored item's properties.
    store::PropertyMap Deliver(const std::string& subject) {
        const auto url = store::DeliverMessage(*theStore, mailbox,
                                               "From: sender@example.org\nTo: " + address +
                                                   "\nSubject: " + subject + "\n\nHello\n");
        return theStore->Read(theStore->Locate(url)).properties;
    }
    static bool Stamped(const store::PropertyMap& item, const std::string& with) {
        const auto keywords = item.find(store::kKeywords);
        return keywords != item.end() && keywords->second == Variant(Variant::TextArray{with});
    }
    std::string EventLog() const {
        std::ifstream in(root / "store" / "events.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root;
    std::string alias, address, domain, mailbox;
    std::shared_ptr<store::Store> theStore;
    fs::path previousDirectory, workDirectory;
    TextErrorLog log;
};

TEST_F(SetupRoad, InstallRegisterDeliverUnregisterRemove) {
    ASSERT_FALSE(FindComPlusApp(log, "Lorvanta"));
    InstallComPlusApp(log, "Lorvanta", "CORP\\svc-lorvanta", "secret");
    ASSERT_TRUE(FindComPlusApp(log, "Lorvanta"));

    const auto folder =
        CreateEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", "onsyncsave",
                                "Lorvanta.LorvantaCls", "SHALLOW", kCriteria, "1", true);
    ASSERT_EQ(folder, mailbox + "/Inbox") << log.Text();
    std::shared_ptr<platform::ado::Connection> none;
    EXPECT_EQ(FindEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", kExtra, true, none), 1);

    const auto stamped = Deliver("first");
    EXPECT_TRUE(Stamped(stamped, address)) << "keywords missing";
    EXPECT_EQ(stamped.at(store::kInternetAccountName), Variant(address));

    ASSERT_TRUE(DeleteEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", true));
    EXPECT_EQ(FindEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", kExtra, true, none), 0);
    const auto plain = Deliver("second");
    EXPECT_EQ(plain.count(store::kKeywords), 0u);
    EXPECT_EQ(plain.count(store::kInternetAccountName), 0u);

    // Registered again, but the COM+ application is gone: the sink cannot be made, the store
    // says why, and the mail is delivered all the same.
    ASSERT_FALSE(CreateEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", "onsyncsave",
                                         "Lorvanta.LorvantaCls", "SHALLOW", kCriteria, "1", true)
                     .empty());
    RemoveComPlusApp(log, "Lorvanta");
    EXPECT_FALSE(FindComPlusApp(log, "Lorvanta"));
    const auto before = EventLog().size();
    const auto unstamped = Deliver("third");
    EXPECT_EQ(unstamped.count(store::kKeywords), 0u);
    const auto added = EventLog().substr(before);
    EXPECT_NE(added.find("Lorvanta.LorvantaCls"), std::string::npos) << added;
    EXPECT_NE(added.find("not registered"), std::string::npos) << added;
    EXPECT_EQ(log.Text(), "");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testing_directory::DirectoryFixtureSettings settings;
    settings.sample.users = 3;
    ::testing::AddGlobalTestEnvironment(new DirectoryEnvironment(settings));
    return RUN_ALL_TESTS();
}
