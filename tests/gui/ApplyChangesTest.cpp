// The "CHANGE" procedure observed from outside: every store connection it opens (whose connection
// string is the folder URL tried) and every COM+ catalog it creates go into one journal, while
// both fail, so that each operation tries all of its URL forms.

#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "platform/complus/Catalog.h"
#include "platform/core/Error.h"
#include "platform/core/Provider.h"
#include "testsupport/FakeDirectory.h"

#include <QtTest>

using lorvanta::setup::InstallForm;

namespace {

const std::string kFile = "file://./backofficestorage/example.com/mbx";
const std::string kHttp = "http://mail01.example.com/exadmin/example.com/mbx";

struct Journal {
    std::vector<std::string> entries;
};

class ApplyPlatform {
public:
    explicit ApplyPlatform(std::shared_ptr<Journal> journal)
        : store_("ExOLEDB.DataSource",
                 [journal](const std::string& url, const std::string&,
                           const std::string&) -> std::unique_ptr<platform::ado::ProviderSession> {
                     journal->entries.push_back(url);
                     throw platform::Error(platform::hr::E_FAIL, "store unavailable");
                 }),
          catalog_(platform::complus::kCatalogProgId,
                   [journal]() -> std::shared_ptr<platform::Object> {
                       journal->entries.push_back("catalog");
                       throw platform::Error(platform::hr::E_FAIL, "catalog unavailable");
                   }) {}

private:
    platform::ado::ScopedProvider store_;
    platform::ScopedObjectFactory catalog_;
};

// Log lines whose subject is a folder URL, newest first.
QStringList LoggedUrls(const std::string& log) {
    QStringList urls;
    for (const auto& line : QString::fromStdString(log).split("\r\n\r\n", Qt::SkipEmptyParts)) {
        const auto start = line.indexOf("] ") + 2;
        const auto end = line.indexOf(" - ERROR: ");
        if (start >= 2 && end > start)
            urls << line.mid(start, end - start);
    }
    return urls;
}

} // namespace

class ApplyChangesTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ui = FakeUserInterface();
        journal = std::make_shared<Journal>();
        directory = std::make_unique<doubles::FakeDirectory>();
        platform = std::make_unique<ApplyPlatform>(journal);
        form = std::make_unique<InstallForm>(ui, "");
        form->blnNotFirstTime = true;
        form->ComputerName = "mail01.example.com";
        form->FileFolderURL = kFile;
        form->FolderURL = kHttp;
        form->strSearchRoot = "GC://dc01.example.com";
        form->cnn = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        form->cnn->SetProvider("ADSDSOObject");
        form->cnn->Open(form->strSearchRoot, "", "");
        form->cnn1 = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        form->cnn1->SetProvider("ExOLEDB.DataSource");
    }
    void cleanup() {
        form.reset();
        platform.reset();
        directory.reset();
    }

    void everyStepInItsOrderWithItsUrlForms() {
        form->SysMbxUninstList->addItem("System / MAIL01 / sys@example.com / SystemMailbox{1}");
        form->SysMbxInstList->addItem("System2 / MAIL01 / sys2@example.com / SystemMailbox{2}");
        form->MbxUninstList->addItems({"Ann Lee / MAIL01 / ann.lee@mail.example.org / alee",
                                       "Not Selected / MAIL01 / ns@example.com / ns",
                                       "No Alias / MAIL01 / na@example.com / "});
        form->MbxInstList->addItems(
            {"Bo / Sales / MAIL01 / bo@example.net / bo1", "No At / MAIL01 / justtext / noat",
             "Empty Mail / MAIL01 /  / em", "Reg No Alias / MAIL01 / rna@example.com / "});
        for (auto* list : {form->SysMbxUninstList, form->SysMbxInstList, form->MbxInstList})
            for (int i = 0; i < list->count(); ++i)
                list->item(i)->setSelected(true);
        form->MbxUninstList->item(0)->setSelected(true);
        form->MbxUninstList->item(2)->setSelected(true);
        for (auto* box :
             {form->Check1, form->Check2, form->Check3, form->Check4, form->Check5, form->Check6}) {
            box->setEnabled(true);
            box->setChecked(true);
        }
        form->txtIdent->setText("example.com\\svc");
        form->txtPwd->setText("secret");

        form->Command1->click();

        const std::vector<std::string> expected = {
            "catalog", // install
            // store-wide unregistration
            kHttp + "/sys", kHttp + "/SystemMailbox{1}", kFile + "/SystemMailbox{1}",
            kFile + "/sys",
            // store-wide registration
            "file://./backofficestorage/example.com/mbx/sys2",
            "http://mail01.example.com/exadmin/example.com/mbx/sys2", kFile + "/sys2",
            kHttp + "/sys2", kFile + "/SystemMailbox{2}", kHttp + "/SystemMailbox{2}",
            // per-mailbox unregistration: Ann, then the entry without alias (forms 1 and 4 only)
            kHttp + "/ann.lee", kHttp + "/alee", kFile + "/alee", kFile + "/ann.lee", kHttp + "/na",
            kFile + "/na",
            // per-mailbox registration
            "file://./backofficestorage/example.net/mbx/bo",
            "http://mail01.example.com/exadmin/example.net/mbx/bo", kFile + "/bo", kHttp + "/bo",
            kFile + "/bo1", kHttp + "/bo1",
            // an address without "@" serves as local part and mail domain alike
            "file://./backofficestorage/justtext/mbx/justtext",
            "http://mail01.example.com/exadmin/justtext/mbx/justtext", kFile + "/justtext",
            kHttp + "/justtext", kFile + "/noat", kHttp + "/noat",
            // an empty mail address leaves the alias forms only
            kFile + "/em", kHttp + "/em",
            // an empty alias: the local part forms, the last one logged
            "file://./backofficestorage/example.com/mbx/rna",
            "http://mail01.example.com/exadmin/example.com/mbx/rna", kFile + "/rna", kHttp + "/rna",
            "catalog", // removal
            "catalog", // the refresh looks the application up
        };
        QCOMPARE(journal->entries, expected);

        // Only the attempts that ask for it are logged; newest first. (The refresh adds lines
        // with an empty subject and the missing sink file, which are not URLs.)
        const QStringList logged = LoggedUrls(form->ErrorLogBox().Text());
        const QStringList expectedLogged = {
            QString::fromStdString(kHttp + "/rna"),
            QString::fromStdString(kHttp + "/em"),
            QString::fromStdString(kHttp + "/noat"),
            QString::fromStdString(kHttp + "/bo1"),
            QString::fromStdString(kFile + "/alee"),
            QString::fromStdString(kHttp + "/alee"),
            QString::fromStdString(kHttp + "/SystemMailbox{2}"),
            QString::fromStdString(kFile + "/SystemMailbox{1}"),
            QString::fromStdString(kHttp + "/SystemMailbox{1}"),
        };
        QStringList urlLines;
        for (const auto& url : logged)
            if (url.contains("://"))
                urlLines << url;
        QCOMPARE(urlLines, expectedLogged);
        QVERIFY(ui.messages.empty());
        QVERIFY(ui.exitCodes.empty());
        QVERIFY(form->cursor().shape() != Qt::WaitCursor);
    }

    void nothingTickedOnlyEmptiesTheLogAndRefreshes() {
        form->ErrorLogBox().SetText("[old] entry\r\n\r\n");
        form->MbxInstList->addItem("Ann / MAIL01 / ann@example.com / ann");
        form->Command1->click();
        QCOMPARE(journal->entries, std::vector<std::string>{"catalog"}); // the refresh's lookup
        QVERIFY(form->ErrorLogBox().Text().find("[old]") == std::string::npos);
        QCOMPARE(form->MbxInstList->count(), 0); // enumerated anew (the directory has no rows)
    }

    void blankIdentityStopsEverything() {
        form->Check1->setEnabled(true);
        form->Check1->setChecked(true);
        form->txtIdent->setText("   ");
        form->txtPwd->setText("secret");
        form->MbxInstList->addItem("Ann / MAIL01 / ann@example.com / ann");
        form->MbxInstList->item(0)->setSelected(true);
        form->Check3->setChecked(true);
        form->Command1->click();
        QCOMPARE(ui.messages.size(), std::size_t{1});
        QCOMPARE(ui.messages[0].text, QString("Please fill the Identity and Password fields"));
        QVERIFY(ui.messages[0].icon == lorvanta::setup::MessageIcon::Exclamation);
        QVERIFY(journal->entries.empty());
        QCOMPARE(form->MbxInstList->count(), 1); // not refreshed
        QVERIFY(form->cursor().shape() != Qt::WaitCursor);
    }

    void batchModeRecreatesEveryRegisteredItem() {
        form->blnBatchMode = true;
        form->MbxUninstList->addItems({"A / MAIL01 / a@example.com / a", "B / MAIL01 /  / b"});
        form->Command1->click(); // nothing ticked, nothing selected
        const std::vector<std::string> expected = {
            "file://./backofficestorage/example.com/mbx/a",
            "http://mail01.example.com/exadmin/example.com/mbx/a",
            kFile + "/a",
            kHttp + "/a",
            kFile + "/a",
            kHttp + "/a",
            kFile + "/b",
            kHttp + "/b",
            "catalog"};
        QCOMPARE(journal->entries, expected);
    }

private:
    FakeUserInterface ui;
    std::shared_ptr<Journal> journal;
    std::unique_ptr<doubles::FakeDirectory> directory;
    std::unique_ptr<ApplyPlatform> platform;
    std::unique_ptr<InstallForm> form;
};

QTEST_MAIN(ApplyChangesTest)
#include "ApplyChangesTest.moc"
