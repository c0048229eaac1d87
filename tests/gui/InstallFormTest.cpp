#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "platform/core/Error.h"

#include <QScrollBar>
#include <QtTest>

using lorvanta::setup::InstallForm;
using lorvanta::setup::MessageIcon;

namespace {

int Px(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

struct ControlSpec {
    const char* name;
    const char* kind;
    const char* caption; // nullptr: the control has no caption
    int left, top, width, height;
    bool enabled;
    bool visible;
};

// The window as it must stand when created.
const ControlSpec kControls[] = {
    {"Check1", "QCheckBox", "Install COM+ object", 120, 20, 1935, 300, false, true},
    {"Label3", "QLabel", "Identity:", 2175, 65, 615, 255, true, true},
    {"txtIdent", "QLineEdit", nullptr, 2760, 30, 2055, 285, true, true},
    {"Label2", "QLabel", "Password:", 5140, 65, 735, 255, true, true},
    {"txtPwd", "QLineEdit", nullptr, 5880, 30, 2055, 285, true, true},
    {"Label7", "QLabel", "Example: example.com\\ExAdmin", 2760, 280, 2535, 255, true, true},
    {"Check2", "QCheckBox", "Register store-wide ", 120, 520, 1695, 375, false, true},
    {"SysMbxInstList", "QListWidget", nullptr, 1920, 600, 7695, 645, true, true},
    {"Check3", "QCheckBox", "Register in the following (selected) Mailboxes:", 120, 1320, 1800, 615,
     true, true},
    {"MbxInstList", "QListWidget", nullptr, 1920, 1320, 7695, 1230, true, true},
    {"Check7", "QCheckBox", "Show disabled", 480, 2040, 1440, 300, true, true},
    {"Label1", "QLabel", "You can select as many mailboxes as you like  (Shift+Click)", 2280, 2185,
     7815, 495, true, true},
    {"Check4", "QCheckBox", "Unregister from the following (selected) Mailboxes:", 120, 2600, 1800,
     735, true, true},
    {"MbxUninstList", "QListWidget", nullptr, 1920, 2640, 7695, 1230, true, true},
    {"Check5", "QCheckBox", "Unregister store-wide", 120, 3920, 1815, 375, false, true},
    {"SysMbxUninstList", "QListWidget", nullptr, 1920, 3960, 7695, 645, true, true},
    {"Check6", "QCheckBox", "Uninstall COM+ object ", 120, 4800, 2055, 375, false, true},
    {"txtErr", "QPlainTextEdit", nullptr, 1920, 5280, 7695, 1095, true, false},
    {"Picture1", "lorvanta::setup::PictureBox", nullptr, 240, 5640, 9135, 375, true, true},
    {"Command3", "QPushButton", "Clear Error Log", 240, 5640, 1575, 375, true, false},
    {"Command1", "QPushButton", "CHANGE", 3120, 6480, 1575, 375, true, true},
    {"Command2", "QPushButton", "Exit", 5040, 6480, 1575, 375, true, true},
};

// A connection whose every call fails, to show that unload ignores failures.
class BrokenConnection : public platform::ado::Connection {
public:
    [[noreturn]] static void Fail() { throw platform::Error(platform::hr::E_FAIL, "broken"); }
    std::string Provider() const override { Fail(); }
    void SetProvider(const std::string&) override { Fail(); }
    std::string ConnectionString() const override { Fail(); }
    void SetConnectionString(const std::string&) override { Fail(); }
    void Open(const std::string&, const std::string&, const std::string&) override { Fail(); }
    std::shared_ptr<platform::ado::Recordset> Execute(const std::string&) override { Fail(); }
    void BeginTrans() override { Fail(); }
    void CommitTrans() override { Fail(); }
    void RollbackTrans() override { Fail(); }
    void Close() override {
        ++closes;
        Fail();
    }
    platform::ado::ObjectState State() const override { Fail(); }
    platform::ado::ProviderSession& Session() override { Fail(); }
    int closes = 0;
};

QString CaptionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    return {};
}

} // namespace

class InstallFormTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        ui = FakeUserInterface();
        form = std::make_unique<InstallForm>(ui, "");
        form->blnNotFirstTime = true; // these tests drive the controls alone
    }
    void cleanup() { form.reset(); }

    void controlsStandAsLaidOut() {
        QCOMPARE(form->size(), QSize(643, 478));
        for (const auto& control : kControls) {
            auto* widget = form->findChild<QWidget*>(control.name);
            QVERIFY2(widget, control.name);
            QVERIFY2(widget->inherits(control.kind), control.name);
            if (control.caption)
                QVERIFY2(CaptionOf(widget) == QString::fromUtf8(control.caption), control.name);
            const QRect expected(Px(control.left), Px(control.top), Px(control.width),
                                 Px(control.height));
            QVERIFY2(widget->geometry() == expected, control.name);
            QVERIFY2(widget->isEnabled() == control.enabled, control.name);
            QVERIFY2(widget->isVisibleTo(form.get()) == control.visible, control.name);
        }
        QCOMPARE(form->txtPwd->echoMode(), QLineEdit::Password);
        QVERIFY(form->txtPwd->styleSheet().contains("lineedit-password-character: 42"));
        QCOMPARE(form->txtErr->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(form->Label1->font().fixedPitch() || form->Label1->font().family() == "Terminal");
        QCOMPARE(form->Label1->font().pointSize(), 9);
        for (auto* list :
             {form->SysMbxInstList, form->MbxInstList, form->MbxUninstList, form->SysMbxUninstList})
            QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    }

    void tabOrderFollowsTheLayout() {
        const QList<QWidget*> expected = {
            form->Check1,          form->Check6,        form->Command1, form->Command2,
            form->MbxInstList,     form->MbxUninstList, form->Command3, form->Check2,
            form->Check3,          form->Check5,        form->Check4,   form->txtIdent,
            form->txtPwd,          form->txtErr,        form->Check7,   form->SysMbxInstList,
            form->SysMbxUninstList};
        QList<QWidget*> chain;
        QWidget* widget = form->Check1;
        do {
            if (expected.contains(widget) && !chain.contains(widget))
                chain.append(widget);
            widget = widget->nextInFocusChain();
        } while (widget != form->Check1);
        QCOMPARE(chain, expected);
    }

    void selectionRuleAsksForASelection() {
        struct Case {
            QCheckBox* box;
            QListWidget* list;
            const char* message;
        };
        const Case cases[] = {
            {form->Check2, form->SysMbxInstList, "Please select the mailbox(es) for registration"},
            {form->Check3, form->MbxInstList, "Please select the mailbox(es) for registration"},
            {form->Check4, form->MbxUninstList, "Please select the mailbox(es) for unregistration"},
            {form->Check5, form->SysMbxUninstList,
             "Please select the mailbox(es) for unregistration"},
        };
        form->setWindowTitle("Lorvanta setup");
        for (const auto& c : cases) {
            c.box->setEnabled(true);
            c.list->addItems({"a / SRV / a@x.org / a", "b / SRV / b@x.org / b"});
            ui.messages.clear();

            c.box->click(); // no selection: refused with the pair's message
            QCOMPARE(ui.messages.size(), std::size_t{1});
            QCOMPARE(ui.messages[0].text, QString(c.message));
            QCOMPARE(ui.messages[0].title, QString("Lorvanta setup"));
            QVERIFY(ui.messages[0].icon == MessageIcon::Information);
            QVERIFY(!c.box->isChecked());

            c.box->setChecked(true); // a value set from code runs the same rule
            QCOMPARE(ui.messages.size(), std::size_t{2});
            QVERIFY(!c.box->isChecked());

            c.list->item(1)->setSelected(true);
            c.box->click();
            QVERIFY(c.box->isChecked());
            c.list->clearSelection(); // clearing the selection later leaves the box ticked
            QVERIFY(c.box->isChecked());
            c.box->click(); // unticking never asks
            QVERIFY(!c.box->isChecked());
            QCOMPARE(ui.messages.size(), std::size_t{2});
        }
        // The boxes are independent: nothing above ticked another box.
        QVERIFY(!form->Check1->isChecked());
        QVERIFY(!form->Check6->isChecked());
    }

    void rowsAreOneTextLineHigh() {
        form->MbxInstList->addItems({"one", "two"});
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->MbxInstList->visualItemRect(form->MbxInstList->item(1)).top(),
                 QFontMetrics(form->MbxInstList->font()).height());
    }

    void tooltipShowsTheEntryUnderThePointer() {
        auto* list = form->MbxUninstList;
        for (int i = 0; i < 30; ++i)
            list->addItem(QString("Display Name %1 / MAIL01 / user%1@example.com / user%1").arg(i));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const double line = QFontMetrics(list->font()).height() * 15.0;

        form->SetListToolTip(list, 2.5 * line, "");
        QCOMPARE(list->toolTip(), list->item(2)->text());

        list->verticalScrollBar()->setValue(10); // scrolled: the entry under the pointer
        form->SetListToolTip(list, 1.2 * line, "");
        QCOMPARE(list->toolTip(), list->item(11)->text());

        // Through a real mouse move over the list.
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 3.5 * line / 15.0),
                         list->viewport()->mapToGlobal(QPointF(20, 3.5 * line / 15.0)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &move);
        QCOMPARE(list->toolTip(), list->item(13)->text());
        const int rowAtPointer = list->indexAt(QPoint(20, int(3.5 * line / 15.0))).row();
        QCOMPARE(rowAtPointer, 13);

        auto* shortList = form->SysMbxInstList;
        shortList->addItems({"only one"});
        form->SetListToolTip(shortList, 0.5 * line, "");
        QCOMPARE(shortList->toolTip(), QString("only one"));
        form->SetListToolTip(shortList, 3 * line, ""); // below the last entry: no tooltip
        QCOMPARE(shortList->toolTip(), QString());
    }

    void failureReachingTheDispatchIsShownAndEndsTheProgram() {
        form->setWindowTitle("Lorvanta setup");
        form->Dispatch([] {
            throw platform::Error(platform::hr::ERROR_DS_SERVER_DOWN,
                                  "The server is not operational.");
        });
        QCOMPARE(ui.messages.size(), std::size_t{1});
        QCOMPARE(ui.messages[0].text, QString("Error -2147016646: The server is not operational."));
        QCOMPARE(ui.messages[0].title, QString("Lorvanta setup"));
        QVERIFY(ui.messages[0].icon == MessageIcon::Critical);
        QCOMPARE(ui.exitCodes, std::vector<int>{1});

        form->Dispatch([] {});
        QCOMPARE(ui.messages.size(), std::size_t{1});
    }

    void exitUnloadsIgnoringFailures() {
        auto directory = std::make_shared<BrokenConnection>();
        auto store = std::make_shared<BrokenConnection>();
        form->cnn = directory;
        form->cnn1 = store;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->Command2->click();
        QVERIFY(!form->isVisible());
        QVERIFY(ui.messages.empty());
        QVERIFY(ui.exitCodes.empty());
        QCOMPARE(directory->closes, 1);
        QCOMPARE(store->closes, 1); // tried even though the first close failed
        QVERIFY(!form->cnn && !form->cnn1);
    }

private:
    FakeUserInterface ui;
    std::unique_ptr<InstallForm> form;
};

QTEST_MAIN(InstallFormTest)
#include "InstallFormTest.moc"
