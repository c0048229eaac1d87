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
#include "tests/integration/directory/DirectoryEnvironment.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace lorvanta::setup;
using testing_directory::DirectoryEnvironment;
namespace store = platform::store;
namespace fs = std::filesystem;

namespace {

QStringList Entries(QListWidget* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

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
        for (const auto& alias : sample.localAliases)
            theStore->CreateMailbox(domain, alias);
        theStore->CreateMailbox(domain, sample.slashAlias);
        theStore->CreateMailbox(domain, sample.noMailAlias);
        theStore->CreateMailbox(domain, sample.utf8Alias);
        theStore->CreateMailbox(domain, sample.noAliasMail.substr(0, sample.noAliasMail.find('@')));
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
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check1")->isChecked() &&
                Control<QCheckBox>(*form, "Check1")->isEnabled());
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check6")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(*form, "txtIdent")->isVisibleTo(form.get()));
    EXPECT_EQ(Control<QLineEdit>(*form, "txtIdent")->text().toStdString(),
              DirectoryEnvironment::Current().Machine().domainDnsName + "\\" +
                  sample.operatorAccount);
    EXPECT_EQ(Control<QListWidget>(*form, "MbxUninstList")->count(), 0);
    EXPECT_EQ(Control<QListWidget>(*form, "SysMbxInstList")->count(), 1);
    EXPECT_TRUE(Control<QListWidget>(*form, "SysMbxInstList")
                    ->item(0)
                    ->text()
                    .endsWith(QString::fromStdString(" / " + sample.systemMailboxAlias)));
    for (const auto& local : sample.localAliases)
        EXPECT_GE(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), local), 0) << local;
    for (const auto& other : sample.otherServerAliases)
        EXPECT_EQ(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), other), -1) << other;
    EXPECT_EQ(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.disabledAlias), -1);
    EXPECT_GE(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.slashAlias), 0);
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check3")->isEnabled());
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check5")->isEnabled());

    // Register the first mailbox and install the COM+ application.
    Control<QListWidget>(*form, "MbxInstList")
        ->item(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), alias))
        ->setSelected(true);
    Control<QCheckBox>(*form, "Check3")->setChecked(true);
    Control<QLineEdit>(*form, "txtPwd")->setText("secret");
    Control<QPushButton>(*form, "Command1")->click();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(form->ErrorLogBox().Text(), "");
    EXPECT_FALSE(Control<QPlainTextEdit>(*form, "txtErr")->isVisibleTo(form.get()));
    EXPECT_EQ(Entries(Control<QListWidget>(*form, "MbxUninstList")).size(), 1);
    EXPECT_GE(IndexOfAlias(Control<QListWidget>(*form, "MbxUninstList"), alias), 0);
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check1")->isEnabled());
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check6")->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(*form, "txtIdent")->isVisibleTo(form.get()));

    // Mail to the owner's secondary address is stamped with it.
    const auto secondary = sample.firstLocalProxyAddresses.at(1).substr(5);
    auto stamped = DeliverTo(alias, "Someone <someone@example.org>, " + secondary);
    EXPECT_EQ(stamped[store::kInternetAccountName].ToText(), secondary);
    EXPECT_EQ(stamped[store::kKeywords],
              platform::Variant(platform::Variant::TextArray{secondary}));

    // "Show disabled" lists the disabled account with its marker.
    Control<QCheckBox>(*form, "Check7")->click();
    const int disabled =
        IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.disabledAlias);
    ASSERT_GE(disabled, 0);
    EXPECT_TRUE(Control<QListWidget>(*form, "MbxInstList")
                    ->item(disabled)
                    ->text()
                    .contains(" [***DISABLED***] / "));
    Control<QCheckBox>(*form, "Check7")->click();
    EXPECT_EQ(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.disabledAlias), -1);
    form.reset();

    // A batch run re-creates the registration and closes the window.
    auto batch = OpenWindow("-b");
    EXPECT_TRUE(batch->BatchMode());
    EXPECT_FALSE(batch->isVisible());
    EXPECT_EQ(batch->ErrorLogBox().Text(), "");
    EXPECT_GE(IndexOfAlias(Control<QListWidget>(*batch, "MbxUninstList"), alias), 0);
    batch.reset();
    stamped = DeliverTo(alias, secondary);
    EXPECT_EQ(stamped[store::kInternetAccountName].ToText(), secondary);

    // Unregister and uninstall: mail is no longer stamped.
    form = OpenWindow();
    Control<QListWidget>(*form, "MbxUninstList")->item(0)->setSelected(true);
    Control<QCheckBox>(*form, "Check4")->setChecked(true);
    Control<QCheckBox>(*form, "Check6")->setChecked(true);
    Control<QPushButton>(*form, "Command1")->click();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Control<QListWidget>(*form, "MbxUninstList")->count(), 0);
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check1")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check6")->isEnabled());
    stamped = DeliverTo(alias, secondary);
    EXPECT_TRUE(stamped[store::kInternetAccountName].ToText().empty());
}

TEST_F(InstallFormRoad, InstallWithoutPasswordIsRefused) {
    auto form = OpenWindow();
    ASSERT_TRUE(Control<QCheckBox>(*form, "Check1")->isChecked());
    Control<QLineEdit>(*form, "txtPwd")->setText("   ");
    Control<QPushButton>(*form, "Command1")->click();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QString("Please fill the Identity and Password fields"));
    EXPECT_TRUE(ui.messages[0].icon == MessageIcon::Exclamation);
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check1")->isChecked())
        << "nothing else happens, not even a refresh";
}

TEST_F(InstallFormRoad, MissingSinkFileIsLoggedAndInstallImpossible) {
    const auto saved = fs::current_path();
    const auto empty = DirectoryEnvironment::Current().Root() / "empty-cwd";
    fs::create_directories(empty);
    fs::current_path(empty);
    auto form = OpenWindow();
    fs::current_path(saved);
    const auto log = form->ErrorLogBox().Text();
    EXPECT_NE(log.find("] File " + (empty / "Lorvanta.dll").string() +
                       " not found. COM+ object installation impossible.\r\n\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log[0], '[');
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check1")->isEnabled());
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check6")->isEnabled());
    EXPECT_TRUE(Control<QPlainTextEdit>(*form, "txtErr")->isVisibleTo(form.get()));
    EXPECT_TRUE(Control<QPushButton>(*form, "Command3")->isVisibleTo(form.get()));
    Control<QPushButton>(*form, "Command3")->click();
    EXPECT_FALSE(Control<QPlainTextEdit>(*form, "txtErr")->isVisibleTo(form.get()));
    EXPECT_EQ(form->ErrorLogBox().Text(), "");
}

TEST_F(InstallFormRoad, ListsKeepTheDirectoryOrderAcrossPagesAndTheOddEntries) {
    const auto& sample = Sample();
    auto form = OpenWindow();
    // More than one page of 100 rows, still in display-name order.
    ASSERT_GT(Control<QListWidget>(*form, "MbxInstList")->count(), 100);
    for (int i = 1; i < Control<QListWidget>(*form, "MbxInstList")->count(); ++i) {
        const auto before = Control<QListWidget>(*form, "MbxInstList")->item(i - 1)->text();
        const auto after = Control<QListWidget>(*form, "MbxInstList")->item(i)->text();
        EXPECT_LE(QString::compare(before, after, Qt::CaseInsensitive), 0) << i;
    }
    // No mail address, no alias, " / " in the display name: listed, and read back from the end.
    const int noMail = IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.noMailAlias);
    ASSERT_GE(noMail, 0);
    EXPECT_TRUE(
        Control<QListWidget>(*form, "MbxInstList")->item(noMail)->text().contains(" /  / "));
    bool noAliasListed = false;
    for (const auto& entry : Entries(Control<QListWidget>(*form, "MbxInstList")))
        noAliasListed |= entry.endsWith(QString::fromStdString(" / " + sample.noAliasMail + " / "));
    EXPECT_TRUE(noAliasListed);
    const int slash = IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), sample.slashAlias);
    ASSERT_GE(slash, 0);
    const auto fields = ParseMailboxEntry(
        Control<QListWidget>(*form, "MbxInstList")->item(slash)->text().toStdString());
    EXPECT_EQ(fields.alias, sample.slashAlias);
    EXPECT_TRUE(Control<QListWidget>(*form, "MbxInstList")
                    ->item(slash)
                    ->text()
                    .startsWith(QString::fromStdString(sample.slashDisplayName + " / ")));
}

TEST_F(InstallFormRoad, StoreWideRegistrationAndBatchRuns) {
    const auto& sample = Sample();
    const auto systemUrl =
        "file://./backofficestorage/" + Domain() + "/mbx/" + sample.systemMailboxAlias;
    TextErrorLog log;
    ASSERT_NE(CreateEventRegistration(log, systemUrl, "StoreEvents/GlobalEvents", "Lorvanta.reg",
                                      "onsyncsave", "Lorvanta.LorvantaCls", "ANY",
                                      " WHERE \"DAV:ishidden\" = FALSE", "1", true),
              "")
        << log.Text();

    auto form = OpenWindow();
    EXPECT_EQ(Control<QListWidget>(*form, "SysMbxInstList")->count(), 0);
    ASSERT_EQ(Control<QListWidget>(*form, "SysMbxUninstList")->count(), 1);
    EXPECT_TRUE(Control<QCheckBox>(*form, "Check5")->isEnabled());
    EXPECT_FALSE(Control<QCheckBox>(*form, "Check2")->isEnabled());
    form.reset();

    // COM+ absent, sink file present: the batch run stops at the identity message, changes
    // nothing, and the window closes.
    auto batch = OpenWindow("-b");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, QString("Please fill the Identity and Password fields"));
    EXPECT_FALSE(batch->isVisible());
    batch.reset();
    ui.messages.clear();

    // With the application installed, the batch run re-creates the store-wide registration.
    auto admin = OpenWindow();
    Control<QLineEdit>(*admin, "txtPwd")->setText("secret");
    Control<QPushButton>(*admin, "Command1")
        ->click(); // installs the application; nothing else is ticked
    ASSERT_TRUE(Control<QCheckBox>(*admin, "Check6")->isEnabled()) << admin->ErrorLogBox().Text();
    admin.reset();
    batch = OpenWindow("-b");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(batch->ErrorLogBox().Text(), "");
    EXPECT_EQ(Control<QListWidget>(*batch, "SysMbxUninstList")->count(), 1);
    batch.reset();

    // Unregister store-wide and remove the application again.
    admin = OpenWindow();
    Control<QListWidget>(*admin, "SysMbxUninstList")->item(0)->setSelected(true);
    Control<QCheckBox>(*admin, "Check5")->setChecked(true);
    Control<QCheckBox>(*admin, "Check6")->setChecked(true);
    Control<QPushButton>(*admin, "Command1")->click();
    EXPECT_EQ(Control<QListWidget>(*admin, "SysMbxUninstList")->count(), 0);
    EXPECT_EQ(Control<QListWidget>(*admin, "SysMbxInstList")->count(), 1);
    admin.reset();

    // Both lists of registered mailboxes empty: the batch run applies nothing and closes.
    batch = OpenWindow("-b");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(batch->isVisible());
}

// Regression: a batch run whose window was closed during its first refresh went on against the
// closed connections and ended with an error box and exit code 1.
TEST_F(InstallFormRoad, BatchRunClosedDuringItsFirstRefreshStopsWithoutAnError) {
    const auto alias = Sample().localAliases.front();
    const auto mailbox = "file://./backofficestorage/" + Domain() + "/mbx/" + alias;
    TextErrorLog log;
    ASSERT_NE(CreateEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", "onsyncsave",
                                      "Lorvanta.LorvantaCls", "SHALLOW",
                                      " WHERE \"DAV:ishidden\" = FALSE", "1", true),
              "")
        << log.Text();
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
    EXPECT_GE(IndexOfAlias(Control<QListWidget>(*batch, "MbxUninstList"), alias), 0);
    batch.reset();
    EXPECT_TRUE(DeleteEventRegistration(log, mailbox, "inbox", "Lorvanta.reg", true));
    RemoveComPlusApp(log, "Lorvanta");
}

// Last: it adds a directory entry that the other tests do not expect.
TEST_F(InstallFormRoad, ZMailboxMissingFromTheStoreIsListedWithOneLogLine) {
    const auto ldif = DirectoryEnvironment::Current().Root() / "ghost.ldif";
    std::ofstream(ldif)
        << "dn: CN=Gary Ghost,CN=Users,DC=corp,DC=example,DC=com\n"
           "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
           "objectClass: inetOrgPerson\nobjectClass: adRecipient\n"
           "cn: Gary Ghost\nsn: Ghost\nsAMAccountName: ghost\nuserAccountControl: 512\n"
           "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=corp,DC=example,DC=com\n"
           "mail: ghost@corp.example.com\nmailNickname: ghost\n"
           "msExchHomeServerName: /o=Lorvanta/ou=First Administrative Group/cn=Configuration/"
           "cn=Servers/cn=MAIL01\n"
           "msExchMailboxGuid: {6A05DEAD-0000-4000-8000-000000000001}\n"
           "proxyAddresses: SMTP:ghost@corp.example.com\n";
    DirectoryEnvironment::Current().Server().Add(ldif);

    auto form = OpenWindow();
    EXPECT_GE(IndexOfAlias(Control<QListWidget>(*form, "MbxInstList"), "ghost"), 0);
    const auto log = form->ErrorLogBox().Text();
    const auto lines = QString::fromStdString(log).split("\r\n\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << log;
    EXPECT_TRUE(lines[0].contains(QString::fromStdString("] file://./backofficestorage/" +
                                                         Domain() + "/mbx/ghost - ERROR: ")))
        << log;
    EXPECT_TRUE(Control<QPlainTextEdit>(*form, "txtErr")->isVisibleTo(form.get()));
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
