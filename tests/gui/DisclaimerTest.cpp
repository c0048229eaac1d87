#include "setup/Disclaimer.h"

#include "FakeUserInterface.h"

#include <QPointer>
#include <QtTest>

using lorvanta::setup::Disclaimer;

class DisclaimerTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheNoticeAndTheQuestion() {
        FakeUserInterface ui;
        Disclaimer disclaimer(ui, [] {});
        disclaimer.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(disclaimer.windowTitle(), QString("Lorvanta setup"));
        QCOMPARE(disclaimer.size(), QSize(328, 327));
        const QString notice = disclaimer.Label1->text();
        QVERIFY(notice.startsWith("LIMITATION OF LIABILITY. \r\n\r\nTO THE MAXIMUM EXTENT"));
        QVERIFY(notice.endsWith("SUPPORT SERVICES.\r\n\r\n\r\n\r\n" + QString(80, '-') + "\r\n"));
        QCOMPARE(disclaimer.Label2->text(),
                 QString("Do you accept all of of the terms of the preceding Limitation of "
                         "Liability? To install you must accept the Limitation of Liability . If  "
                         "you choose No, install will close."));
        QCOMPARE(disclaimer.Command1->text(), QString("Yes"));
        QCOMPARE(disclaimer.Command2->text(), QString("No"));
        QCOMPARE(disclaimer.Label1->geometry(), QRect(16, 16, 297, 185));
        QCOMPARE(disclaimer.Command1->geometry(), QRect(160, 280, 65, 33));
        QCOMPARE(disclaimer.Command2->geometry(), QRect(256, 280, 65, 33));
    }

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
        QPointer<Disclaimer> disclaimer = new Disclaimer(ui, [&] { mainWindow->show(); });
        disclaimer->show();
        disclaimer->Command1->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(disclaimer.isNull());
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
        QPointer<Disclaimer> disclaimer =
            new Disclaimer(ui, [] { throw std::runtime_error("cannot show"); });
        disclaimer->show();
        disclaimer->Command1->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(disclaimer.isNull());
    }
};

QTEST_MAIN(DisclaimerTest)
#include "DisclaimerTest.moc"
