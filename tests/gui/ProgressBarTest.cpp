#include "setup/InstallForm.h"

#include "FakeUserInterface.h"
#include "platform/core/Error.h"

#include <QtTest>

using lorvanta::setup::InstallForm;

namespace {

bool IsBlue(QRgb pixel) {
    return qBlue(pixel) > 150 && qRed(pixel) < 100 && qGreen(pixel) < 100;
}
bool IsWhite(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
}

// Counts pixels of the middle rows in a column range that satisfy a test.
int Count(const QImage& image, int fromX, int toX, bool (*test)(QRgb)) {
    int count = 0;
    for (int y = 2; y < image.height() - 2; ++y)
        for (int x = fromX; x < toX; ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

} // namespace

class ProgressBarTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        form = std::make_unique<InstallForm>(ui, "");
        form->blnNotFirstTime = true; // these tests drive the controls alone
        form->PrepareProgressBar();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->FileBytes = 0;
    }
    void cleanup() { form.reset(); }

    void eightUnitRunRoundsHalvesToEven() {
        form->Picture1->SetScaleWidth(8);
        const char* expected[] = {"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"};
        for (int call = 0; call < 8; ++call) {
            form->UpdateStatus(1);
            QCOMPARE(form->FileBytes, call + 1);
            QCOMPARE(form->ProgressText(), QString(expected[call]));
        }
        const QImage image = form->Picture1->Image();
        QVERIFY(IsBlue(image.pixel(1, 1)));
        QVERIFY(IsBlue(image.pixel(image.width() - 2, image.height() - 2)));
    }

    void barIsBlueAndCoveredTextTurnsWhite() {
        // A fine scale, so that the whole-unit text position is the true centre.
        form->Picture1->SetScaleWidth(1000);
        form->UpdateStatus(500); // 50%: the bar ends in the middle of the centred text
        const QImage image = form->Picture1->Image();
        const int middle = image.width() / 2;
        QVERIFY(IsBlue(image.pixel(2, 2)));                          // the bar
        QVERIFY(IsWhite(image.pixel(image.width() - 3, 2)));         // the background
        QVERIFY(Count(image, middle - 40, middle - 1, IsWhite) > 5); // text under the bar: white
        QVERIFY(Count(image, middle + 1, middle + 40, IsBlue) > 5);  // text beside it: blue
        QVERIFY(Count(image, 0, middle - 45, IsWhite) == 0);
        QVERIFY(Count(image, middle + 45, image.width(), IsBlue) == 0);
    }

    void drawingIsRecordedAndShownAsIfDoneAtOnce() {
        // Each call clears and redraws the bar; the picture skips a redraw that would come out
        // the same. What it shows must still be what drawing at once gives.
        form->Picture1->SetScaleWidth(1000);
        form->UpdateStatus(500);
        const QImage half = form->Picture1->Image();
        form->UpdateStatus(0);
        QCOMPARE(form->Picture1->Image(), half);
        form->UpdateStatus(100);
        form->UpdateStatus(0); // twice before the picture is looked at
        const QImage later = form->Picture1->Image();
        QVERIFY(later != half);

        InstallForm fresh(ui, "");
        fresh.blnNotFirstTime = true;
        fresh.PrepareProgressBar();
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        fresh.FileBytes = 0;
        fresh.Picture1->SetScaleWidth(1000);
        fresh.UpdateStatus(600);
        QCOMPARE(later, fresh.Picture1->Image());

        form->Picture1->Cls();
        QCOMPARE(Count(form->Picture1->Image(), 0, later.width(), IsBlue), 0);
    }

    void incrementsPastTheScaleStayFull() {
        form->Picture1->SetScaleWidth(8);
        form->UpdateStatus(5);
        form->UpdateStatus(5);
        QCOMPARE(form->FileBytes, 8);
        QCOMPARE(form->ProgressText(), QString("100%"));
        const QImage image = form->Picture1->Image();
        QVERIFY(IsBlue(image.pixel(image.width() - 2, 2)));
    }

    void noTotalDrawsNothingAndDoesNotFail() {
        for (double width : {0.0, -5.0}) {
            form->Picture1->SetScaleWidth(width);
            form->UpdateStatus(1);
            const QImage image = form->Picture1->Image();
            QCOMPARE(Count(image, 0, image.width(), IsBlue), 0);
        }
    }

    void sumPastThe32BitRangeIsAnOverflow() {
        form->Picture1->SetScaleWidth(8);
        form->FileBytes = std::numeric_limits<std::int32_t>::max();
        try {
            form->UpdateStatus(1);
            QFAIL("no overflow");
        } catch (const platform::Error& error) {
            QCOMPARE(error.Number(), 6);
        }
    }

private:
    FakeUserInterface ui;
    std::unique_ptr<InstallForm> form;
};

QTEST_MAIN(ProgressBarTest)
#include "ProgressBarTest.moc"
