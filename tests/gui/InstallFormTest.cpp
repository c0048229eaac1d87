// The main window on stand-ins.

#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "WindowDoubles.h"
#include "tests/unit/setup/SetupDoubles.h"

#include <QScrollBar>
#include <QtTest>

#include <filesystem>

using lorvanta::setup::InstallForm;
using lorvanta::setup::MessageIcon;

class InstallFormTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ui = FakeUserInterface();
        doubles = std::make_unique<WindowDoubles>();
        form = std::make_unique<InstallForm>(ui, "");
        QVERIFY(form->Load());
        form->FirstActivation(); // out of the way: the tests drive the controls alone
        form->ErrorLogBox().SetText("");
    }
    void cleanup() {
        form.reset();
        doubles.reset();
    }

    void loadFailureAnywhereIsShownAndEndsTheProgram() {
        struct Case {
            LoadFailure failure;
            const char* message;
            const char* title; // the caption is set after the first step
        } cases[] = {
            {LoadFailure::NetBios, "Error -2147221164: no WinNTSystemInfo", ""},
            {LoadFailure::DirectoryOpen, "Error -2147016646: injected failure: cannot open",
             "Lorvanta setup"},
        };
        form.reset();
        doubles.reset();
        for (const auto& c : cases) {
            WindowDoubles failing(c.failure);
            FakeUserInterface failingUi;
            InstallForm window(failingUi, "");
            QVERIFY(!window.Load());
            QCOMPARE(failingUi.messages.size(), std::size_t{1});
            QCOMPARE(failingUi.messages[0].text, QString(c.message));
            QCOMPARE(failingUi.messages[0].title, QString(c.title));
            QVERIFY(failingUi.messages[0].icon == MessageIcon::Critical);
            QCOMPARE(failingUi.exitCodes, std::vector<int>{1});
        }
    }

    void selectionRuleAsksForASelection() {
        struct Case {
            const char* box;
            const char* list;
            const char* message;
        };
        const Case cases[] = {
            {"Check2", "SysMbxInstList", "Please select the mailbox(es) for registration"},
            {"Check3", "MbxInstList", "Please select the mailbox(es) for registration"},
            {"Check4", "MbxUninstList", "Please select the mailbox(es) for unregistration"},
            {"Check5", "SysMbxUninstList", "Please select the mailbox(es) for unregistration"},
        };
        for (const auto& c : cases) {
            auto* box = Box(*form, c.box);
            auto* list = List(*form, c.list);
            box->setEnabled(true);
            list->addItems({"a / SRV / a@x.org / a", "b / SRV / b@x.org / b"});
            ui.messages.clear();

            box->click(); // no selection: refused with the pair's message
            QCOMPARE(ui.messages.size(), std::size_t{1});
            QCOMPARE(ui.messages[0].text, QString(c.message));
            QCOMPARE(ui.messages[0].title, QString("Lorvanta setup"));
            QVERIFY(ui.messages[0].icon == MessageIcon::Information);
            QVERIFY(!box->isChecked());

            box->setChecked(true); // a value set from code runs the same rule
            QCOMPARE(ui.messages.size(), std::size_t{2});
            QVERIFY(!box->isChecked());

            list->item(1)->setSelected(true);
            box->click();
            QVERIFY(box->isChecked());
            list->clearSelection(); // clearing the selection later leaves the box ticked
            QVERIFY(box->isChecked());
            box->click(); // unticking never asks
            QVERIFY(!box->isChecked());
            QCOMPARE(ui.messages.size(), std::size_t{2});
        }
    }

    void tooltipShowsTheEntryUnderThePointer() {
        auto* list = List(*form, "MbxUninstList");
        for (int i = 0; i < 30; ++i)
            list->addItem(QString("Display Name %1 / MAIL01 / user%1@example.com / user%1").arg(i));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const int lineHeight = QFontMetrics(list->font()).height();
        // Rows exactly one text line high, so that the row under the pointer follows from the font.
        QCOMPARE(list->visualItemRect(list->item(1)).top(), lineHeight);
        const double line = lineHeight * 15.0;

        form->SetListToolTip(list, 2.5 * line, "");
        QCOMPARE(list->toolTip(), list->item(2)->text());

        list->verticalScrollBar()->setValue(10); // scrolled: the entry under the pointer
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 3.5 * lineHeight),
                         list->viewport()->mapToGlobal(QPointF(20, 3.5 * lineHeight)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &move);
        QCOMPARE(list->toolTip(), list->item(13)->text());

        auto* shortList = List(*form, "SysMbxInstList");
        shortList->addItems({"only one"});
        form->SetListToolTip(shortList, 3 * line, ""); // below the last entry: no tooltip
        QCOMPARE(shortList->toolTip(), QString());
    }

    void exitUnloadsBothConnectionsIgnoringFailures() {
        setuptest::Script script;
        script.failCall = "Connection.Close";
        script.failOccurrence = -1;
        const platform::ScopedObjectFactory connections(
            "ADODB.Connection",
            setuptest::scripted::Factory<setuptest::scripted::ScriptedConnection>(
                script, "ADODB.Connection"));
        InstallForm window(ui, "");
        QVERIFY(window.Load());
        Control<QPushButton>(window, "Command2")->click(); // "Exit"
        // The store's too, although the directory's failed.
        QCOMPARE(std::count(script.calls.begin(), script.calls.end(), "Connection.Close"), 2);
        QVERIFY(ui.messages.empty() && ui.exitCodes.empty());
    }

    void emptyDirectoryAnswerEmptiesTheListsAndDisablesTheirBoxes() {
        const std::pair<const char*, const char*> pairs[] = {{"SysMbxInstList", "Check2"},
                                                             {"MbxInstList", "Check3"},
                                                             {"MbxUninstList", "Check4"},
                                                             {"SysMbxUninstList", "Check5"}};
        for (const auto& [list, box] : pairs) {
            List(*form, list)->addItem("old / MAIL01 / old@example.com / old");
            Box(*form, box)->setEnabled(true);
        }
        form->GetUsersWithMailboxes();
        for (const auto& [list, box] : pairs) {
            QCOMPARE(List(*form, list)->count(), 0);
            QVERIFY2(!Box(*form, box)->isEnabled(), box);
        }
        QVERIFY(ui.messages.empty());
    }

    // Regression: in the root directory the window looked for "/Lorvanta.dll" while the COM+
    // install takes "//Lorvanta.dll"; both now come from one function.
    void inTheRootDirectoryTheCheckedFileIsTheInstalledOne() {
        InstallForm window(ui, "");
        QVERIFY(window.Load());
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path("/");
        window.FirstActivation();
        std::filesystem::current_path(previous);
        const auto log = QString::fromStdString(window.ErrorLogBox().Text());
        QVERIFY2(log.contains("] File //Lorvanta.dll not found. COM+ object installation "
                              "impossible.\r\n\r\n"),
                 qPrintable(log));
        QVERIFY(!Box(window, "Check1")->isEnabled());
        auto* logBox = Control<QWidget>(window, "txtErr");
        QVERIFY(logBox->isVisibleTo(&window));
        Control<QPushButton>(window, "Command3")->click(); // "Clear Error Log"
        QVERIFY(!logBox->isVisibleTo(&window));
        QCOMPARE(window.ErrorLogBox().Text(), std::string());
    }

private:
    FakeUserInterface ui;
    std::unique_ptr<WindowDoubles> doubles;
    std::unique_ptr<InstallForm> form;
};

QTEST_MAIN(InstallFormTest)
#include "InstallFormTest.moc"
