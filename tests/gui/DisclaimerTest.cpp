// The disclaimer window: where Yes and No lead.

#include "setup/Disclaimer.h"

#include "FakeUserInterface.h"

#include <QPointer>
#include <QtTest>

using lorvanta::setup::Disclaimer;

class DisclaimerTest : public QObject {
    Q_OBJECT

    // Yes on a shown disclaimer: it goes, whatever showing the main window did.
    static void ClickYes(QPointer<Disclaimer> disclaimer) {
        disclaimer->show();
        disclaimer->Command1->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(disclaimer.isNull());
    }

private slots:
    void noEndsTheProgramWithoutTheMainWindow() {
        FakeUserInterface ui;
        int mainWindows = 0;
        QPointer<Disclaimer> disclaimer = new Disclaimer(ui, [&] { ++mainWindows; });
        disclaimer->show();
        disclaimer->Command2->click();
        QCOMPARE(mainWindows, 0);
        QCOMPARE(ui.exitCodes, std::vector<int>{0});
        delete disclaimer;
    }

    void yesLeavesTheMainWindowAsTheOnlyWindow() {
        FakeUserInterface ui;
        auto* mainWindow = new QWidget;
        ClickYes(new Disclaimer(ui, [&] { mainWindow->show(); }));
        QList<QWidget*> visible;
        for (auto* widget : QApplication::topLevelWidgets())
            if (widget->isVisible())
                visible.append(widget);
        QCOMPARE(visible, QList<QWidget*>{mainWindow});
        QVERIFY(ui.exitCodes.empty());
        delete mainWindow;
    }

    void yesGoesOnWhenTheMainWindowFails() {
        FakeUserInterface ui;
        ClickYes(new Disclaimer(ui, [] { throw std::runtime_error("cannot show"); }));
    }
};

QTEST_MAIN(DisclaimerTest)
#include "DisclaimerTest.moc"
