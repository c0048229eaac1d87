#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "platform/core/Error.h"
#include "platform/core/Moniker.h"
#include "platform/directory/Ads.h"
#include "platform/directory/SystemInfo.h"
#include "platform/host/FileListing.h"
#include "testsupport/FakeDirectory.h"

#include <QtTest>

#include <optional>

using lorvanta::setup::InstallForm;
using platform::Error;

namespace {

class NetBiosInfo : public platform::directory::WinNTSystemInfo {
public:
    std::string ComputerName() override { return "MAIL01"; }
};

class RootDse : public platform::directory::IADsUser {
public:
    std::string TypeName() const override { return "IADs"; }
    std::string ADsPath() const override { return "GC://RootDSE"; }
    platform::Variant Get(const std::string& attribute) override {
        if (attribute != "dnshostname")
            throw Error(platform::hr::E_ADS_PROPERTY_NOT_FOUND, "no " + attribute);
        return "dc01.corp.example.com";
    }
    bool AccountDisabled() override { return false; }
};

// Where load can be made to fail.
enum class Failure { None, NetBios, Listing, RootDse, DirectoryOpen };

struct Platform {
    explicit Platform(Failure failure, std::vector<std::string> namespaceEntries = {})
        : netBios("WinNTSystemInfo",
                  [failure]() -> std::shared_ptr<platform::Object> {
                      if (failure == Failure::NetBios)
                          throw Error(platform::hr::REGDB_E_CLASSNOTREG, "no WinNTSystemInfo");
                      return std::make_shared<NetBiosInfo>();
                  }),
          listing("\\\\.\\backofficestorage\\",
                  [failure, namespaceEntries](const std::string&) {
                      if (failure == Failure::Listing)
                          throw Error(platform::hr::Code(0x80070003), "Path not found");
                      return namespaceEntries;
                  }),
          gc("GC:", [failure](const std::string&) -> std::shared_ptr<platform::Object> {
              if (failure == Failure::RootDse)
                  throw Error(platform::hr::ERROR_DS_SERVER_DOWN, "The server is not operational.");
              return std::make_shared<RootDse>();
          }) {
        directory.state().forestDnsName = "Corp.Example.COM";
        directory.state().openFails = failure == Failure::DirectoryOpen;
    }
    doubles::FakeDirectory directory;
    platform::ScopedObjectFactory netBios;
    platform::host::ScopedNamespace listing;
    platform::ScopedMonikerHandler gc;
};

} // namespace

class LoadTest : public QObject {
    Q_OBJECT

private slots:
    void discoversTheServerAndOpensTheDirectory() {
        Platform platform(Failure::None);
        FakeUserInterface ui;
        InstallForm form(ui, "");
        QVERIFY(form.Load());
        QVERIFY(ui.messages.empty());
        QCOMPARE(form.windowTitle(), QString("Lorvanta setup"));
        QVERIFY(!form.blnBatchMode);
        QCOMPARE(form.ComputerName, std::string("mail01.corp.example.com"));
        QCOMPARE(form.ShortComputerName, std::string("mail01"));
        QCOMPARE(form.FileFolderURL,
                 std::string("file://./backofficestorage/Corp.Example.COM/mbx"));
        QCOMPARE(form.FolderURL,
                 std::string("http://mail01.corp.example.com/exadmin/Corp.Example.COM/mbx"));
        QCOMPARE(form.strSearchRoot, std::string("GC://dc01.corp.example.com"));
        QVERIFY(form.cnn && form.cnn->State() == platform::ado::adStateOpen);
        QCOMPARE(form.cnn->Provider(), std::string("adsDSOobject"));
        QCOMPARE(platform.directory.state().connectionStrings,
                 std::vector<std::string>{"GC://dc01.corp.example.com"});
        QVERIFY(form.cnn1 && form.cnn1->State() == platform::ado::adStateClosed);
        QCOMPARE(form.cnn1->Provider(), std::string("ExOLEDB.DataSource"));

        form.Unload();
        QCOMPARE(platform.directory.state().openSessions, 0);
    }

    void namespaceEntryReplacesTheDomainInTheUrlsOnly() {
        Platform platform(Failure::None, {"mail.example.org", "second.example.net"});
        FakeUserInterface ui;
        InstallForm form(ui, "");
        QVERIFY(form.Load());
        QCOMPARE(form.FileFolderURL,
                 std::string("file://./backofficestorage/mail.example.org/mbx"));
        QCOMPARE(form.FolderURL,
                 std::string("http://mail01.corp.example.com/exadmin/mail.example.org/mbx"));
        QCOMPARE(form.ComputerName, std::string("mail01.corp.example.com"));
    }

    void batchSwitchSetsTheModeAndTheCaption() {
        Platform platform(Failure::None);
        for (const char* argument : {"-b", "/B", "/batch"}) {
            FakeUserInterface ui;
            InstallForm form(ui, argument);
            QVERIFY(form.Load());
            QVERIFY(form.blnBatchMode);
            QCOMPARE(form.windowTitle(), QString("Lorvanta setup - batch mode"));
        }
    }

    void failureAnywhereIsShownAndEndsTheProgram() {
        struct Case {
            Failure failure;
            const char* message;
        } cases[] = {
            {Failure::NetBios, "Error -2147221164: no WinNTSystemInfo"},
            {Failure::Listing, "Error -2147024893: Path not found"},
            {Failure::RootDse, "Error -2147016646: The server is not operational."},
            {Failure::DirectoryOpen, "Error -2147016646: injected failure: cannot open"},
        };
        for (const auto& c : cases) {
            Platform platform(c.failure);
            FakeUserInterface ui;
            InstallForm form(ui, "");
            QVERIFY(!form.Load());
            QCOMPARE(ui.messages.size(), std::size_t{1});
            QCOMPARE(ui.messages[0].text, QString(c.message));
            QCOMPARE(ui.exitCodes, std::vector<int>{1});
            QVERIFY(!form.cnn1); // the store connection object is never made
        }
    }
};

QTEST_MAIN(LoadTest)
#include "LoadTest.moc"
