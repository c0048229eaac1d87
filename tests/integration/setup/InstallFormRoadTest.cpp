// The main window against the real platform: a private directory, the store and the COM+
// catalog in a server folder, and Lorvanta.dll in the current directory. The administrator's
// road: load, first refresh, register a mailbox, mail gets stamped, batch re-registration,
// unregister and uninstall.

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "setup/ComPlus.h"
#include "setup/InstallForm.h"
#include "setup/Items.h"
#include "tests/gui/Controls.h"
#include "tests/gui/FakeUserInterface.h"
#include "tests/unit/setup/SetupDoubles.h"
#include "testsupport/DirectoryEnvironment.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>

using namespace lorvanta::setup;
using testing_directory::DirectoryEnvironment;
namespace store = platform::store;
namespace fs = std::filesystem;

namespace {

int IndexOfAlias(QListWidget* list, const std::string& alias) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text().endsWith(QString::fromStdString(" / " + alias)))
            return i;
    return -1;
}

class InstallFormRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto& environment = DirectoryEnvironment::Current();
        const auto& sample = environment.Sample();
        const auto domain = environment.Machine().domainDnsName;
        theStore = store::Store::Open(platform::host::ServerFolder(environment.Root()));
        theStore->CreateDomainFolder(domain);
        auto aliases = sample.localAliases;
        aliases.insert(aliases.end(), {sample.slashAlias, sample.noMailAlias, sample.utf8Alias,
                                       sample.noAliasMail.substr(0, sample.noAliasMail.find('@'))});
        for (const auto& alias : aliases)
            theStore->CreateMailbox(domain, alias);
        const auto system = theStore->CreateMailbox(domain, sample.systemMailboxAlias);
        theStore->CreateFolder(system + "/StoreEvents");
        theStore->CreateFolder(system + "/StoreEvents/GlobalEvents");

        previousDirectory = fs::current_path();
        const auto work = environment.Root() / "setup-cwd";
        fs::create_directories(work);
        fs::copy_file(LORVANTA_DLL, work / "Lorvanta.dll", fs::copy_options::overwrite_existing);
        fs::current_path(work);
    }
    static void TearDownTestSuite() {
        fs::current_path(previousDirectory);
        theStore.reset();
    }

    std::unique_ptr<InstallForm> OpenWindow(const std::string& arguments = "") {
        auto form = std::make_unique<InstallForm>(ui, arguments);
        EXPECT_TRUE(form->Load());
        form->FirstActivation();
        return form;
    }

    const platform::directory::SampleDirectory& Sample() {
        return DirectoryEnvironment::Current().Sample();
    }

    std::string Domain() { return DirectoryEnvironment::Current().Machine().domainDnsName; }

    store::PropertyMap DeliverTo(const std::string& alias, const std::string& to) {
        const auto url = store::DeliverMessage(*theStore, Domain(), alias,
                                               "From: sender@example.org\r\nTo: " + to +
                                                   "\r\nSubject: road\r\n\r\nHello\r\n");
        return theStore->Read(theStore->Locate(url)).properties;
    }

    FakeUserInterface ui;
    static inline std::shared_ptr<store::Store> theStore;
    static inline fs::path previousDirectory;
};

TEST_F(InstallFormRoad, AdministratorsRoad) {
    const auto& sample = Sample();
    const auto alias = sample.localAliases.front();

    // First refresh: nothing installed, the sink file is at hand.
    auto form = OpenWindow();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(form->ErrorLogBox().Text(), "");
    EXPECT_TRUE(Box(*form, "Check1")->isChecked() && Box(*form, "Check1")->isEnabled());
    EXPECT_FALSE(Box(*form, "Check6")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(*form, "txtIdent")->isVisibleTo(form.get()));
    EXPECT_EQ(Control<QLineEdit>(*form, "txtIdent")->text().toStdString(),
              DirectoryEnvironment::Current().Machine().domainDnsName + "\\" +
                  sample.operatorAccount);
    // Which list each row goes to is tested on stand-ins; here: the real directory's rows.
    EXPECT_EQ(List(*form, "MbxUninstList")->count(), 0);
    EXPECT_EQ(IndexOfAlias(List(*form, "SysMbxInstList"), sample.systemMailboxAlias), 0);
    for (const auto& local : sample.localAliases)
        EXPECT_GE(IndexOfAlias(List(*form, "MbxInstList"), local), 0) << local;
    EXPECT_EQ(IndexOfAlias(List(*form, "MbxInstList"), sample.otherServerAliases.front()), -1);
    EXPECT_TRUE(Box(*form, "Check3")->isEnabled());
    EXPECT_FALSE(Box(*form, "Check5")->isEnabled());

    // Register the first mailbox and install the COM+ application.
    auto* toRegister = List(*form, "MbxInstList");
    toRegister->item(IndexOfAlias(toRegister, alias))->setSelected(true);
    Box(*form, "Check3")->setChecked(true);
    Control<QLineEdit>(*form, "txtPwd")->setText("secret");
    Control<QPushButton>(*form, "Command1")->click();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(form->ErrorLogBox().Text(), "");
    EXPECT_FALSE(Control<QPlainTextEdit>(*form, "txtErr")->isVisibleTo(form.get()));
    EXPECT_EQ(List(*form, "MbxUninstList")->count(), 1);
    EXPECT_GE(IndexOfAlias(List(*form, "MbxUninstList"), alias), 0);
    EXPECT_FALSE(Box(*form, "Check1")->isEnabled());
    EXPECT_TRUE(Box(*form, "Check6")->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(*form, "txtIdent")->isVisibleTo(form.get()));

    // Mail to the owner's secondary address is stamped with it.
    const auto secondary = sample.firstLocalProxyAddresses.at(1).substr(5);
    auto stamped = DeliverTo(alias, "Someone <someone@example.org>, " + secondary);
    EXPECT_EQ(stamped[store::kInternetAccountName].ToText(), secondary);

    // "Show disabled" lists the disabled account with its marker.
    Box(*form, "Check7")->click();
    const int disabled = IndexOfAlias(List(*form, "MbxInstList"), sample.disabledAlias);
    ASSERT_GE(disabled, 0);
    EXPECT_TRUE(
        List(*form, "MbxInstList")->item(disabled)->text().contains(" [***DISABLED***] / "));
    Box(*form, "Check7")->click();
    EXPECT_EQ(IndexOfAlias(List(*form, "MbxInstList"), sample.disabledAlias), -1);
    form.reset();

    // A batch run re-creates the registration and closes the window.
    auto batch = OpenWindow("-b");
    EXPECT_TRUE(batch->BatchMode());
    EXPECT_EQ(batch->windowTitle().toStdString(), "Lorvanta setup - batch mode");
    EXPECT_FALSE(batch->isVisible());
    EXPECT_EQ(batch->ErrorLogBox().Text(), "");
    EXPECT_GE(IndexOfAlias(List(*batch, "MbxUninstList"), alias), 0);
    batch.reset();
    stamped = DeliverTo(alias, secondary);
    EXPECT_EQ(stamped[store::kInternetAccountName].ToText(), secondary);

    // Unregister and uninstall: mail is no longer stamped.
    form = OpenWindow();
    List(*form, "MbxUninstList")->item(0)->setSelected(true);
    Box(*form, "Check4")->setChecked(true);
    Box(*form, "Check6")->setChecked(true);
    Control<QPushButton>(*form, "Command1")->click();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(List(*form, "MbxUninstList")->count(), 0);
    EXPECT_TRUE(Box(*form, "Check1")->isChecked());
    EXPECT_FALSE(Box(*form, "Check6")->isEnabled());
    stamped = DeliverTo(alias, secondary);
    EXPECT_TRUE(stamped[store::kInternetAccountName].ToText().empty());
}

TEST_F(InstallFormRoad, StoreWideRegistrationAndBatchRuns) {
    const auto& sample = Sample();
    const auto systemUrl =
        "file://./backofficestorage/" + Domain() + "/mbx/" + sample.systemMailboxAlias;
    TextErrorLog log;
    ASSERT_NE(setuptest::RegisterSink(log, systemUrl, "StoreEvents/GlobalEvents", "ANY"), "")
        << log.Text();

    // COM+ absent, sink file present: the batch run stops at the identity message, changes
    // nothing, and the window closes.
    auto batch = OpenWindow("-b");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QString("Please fill the Identity and Password fields"));
    batch.reset();
    ui.messages.clear();

    // With the application installed, the batch run re-creates the store-wide registration.
    auto admin = OpenWindow();
    Control<QLineEdit>(*admin, "txtPwd")->setText("secret");
    // Installs the application; nothing else is ticked.
    Control<QPushButton>(*admin, "Command1")->click();
    ASSERT_TRUE(Box(*admin, "Check6")->isEnabled()) << admin->ErrorLogBox().Text();
    admin.reset();
    batch = OpenWindow("-b");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(batch->ErrorLogBox().Text(), "");
    EXPECT_EQ(List(*batch, "SysMbxUninstList")->count(), 1);
    batch.reset();

    // Unregister store-wide and remove the application again.
    admin = OpenWindow();
    List(*admin, "SysMbxUninstList")->item(0)->setSelected(true);
    Box(*admin, "Check5")->setChecked(true);
    Box(*admin, "Check6")->setChecked(true);
    Control<QPushButton>(*admin, "Command1")->click();
    EXPECT_EQ(List(*admin, "SysMbxUninstList")->count(), 0);
    EXPECT_EQ(List(*admin, "SysMbxInstList")->count(), 1);
}

// Regression: a batch run whose window was closed during its first refresh went on against the
// closed connections and ended with an error box and exit code 1.
TEST_F(InstallFormRoad, BatchRunClosedDuringItsFirstRefreshStopsWithoutAnError) {
    const auto alias = Sample().localAliases.front();
    const auto mailbox = "file://./backofficestorage/" + Domain() + "/mbx/" + alias;
    TextErrorLog log;
    ASSERT_NE(setuptest::RegisterSink(log, mailbox, "inbox"), "") << log.Text();
    InstallComPlusApp(log, "Lorvanta", "CORP\\svc", "secret"); // nothing to ask the batch run
    ASSERT_EQ(log.Text(), "");

    auto batch = std::make_unique<InstallForm>(ui, "-b");
    ASSERT_TRUE(batch->Load());
    // Handled while the refresh yields to the window, as an Exit click would be.
    QTimer::singleShot(0, batch.get(), [&] { batch->close(); });
    batch->Dispatch([&] { batch->FirstActivation(); });
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text.toStdString();
    EXPECT_TRUE(ui.exitCodes.empty());
    EXPECT_FALSE(batch->isVisible());
    EXPECT_GE(IndexOfAlias(List(*batch, "MbxUninstList"), alias), 0);
    batch.reset();
    EXPECT_TRUE(DeleteEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", true));
    RemoveComPlusApp(log, "Lorvanta");
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    testing_directory::DirectoryFixtureSettings settings;
    settings.sample.users = 120; // more than one page of the mailbox query
    ::testing::AddGlobalTestEnvironment(new DirectoryEnvironment(settings));
    return RUN_ALL_TESTS();
}
