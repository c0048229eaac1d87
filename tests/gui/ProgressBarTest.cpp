// The progress bar of the mailbox enumeration, pixel by pixel.

#include "setup/RowProgressBar.h"

#include "platform/core/Error.h"
#include "setup/Twips.h"

#include <QtTest>

#include <limits>

using lorvanta::setup::RowProgressBar;

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

// A bar the size the window gives it, shown and prepared.
std::unique_ptr<RowProgressBar> ShownBar() {
    auto bar = std::make_unique<RowProgressBar>();
    bar->setGeometry(lorvanta::setup::TwipsRect(240, 5640, 9135, 375));
    bar->Prepare();
    bar->show();
    return bar;
}

} // namespace

class ProgressBarTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        bar = ShownBar();
        QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
    }
    void cleanup() { bar.reset(); }

    void eightUnitRunRoundsHalvesToEven() {
        bar->Start(8);
        const char* expected[] = {"12%", "25%", "38%", "50%", "62%", "75%", "88%", "100%"};
        for (int call = 0; call < 8; ++call) {
            bar->Advance(1);
            QCOMPARE(bar->RowsDone(), call + 1);
            QCOMPARE(bar->Text(), QString(expected[call]));
        }
    }

    void barIsBlueAndCoveredTextTurnsWhite() {
        // A fine scale, so that the whole-unit text position is the true centre.
        bar->Start(1000);
        bar->Advance(500); // 50%: the bar ends in the middle of the centred text
        const QImage image = bar->Image();
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
        bar->Start(1000);
        bar->Advance(500);
        const QImage half = bar->Image();
        bar->Advance(0);
        QCOMPARE(bar->Image(), half);
        bar->Advance(100);
        bar->Advance(0); // twice before the picture is looked at
        const QImage later = bar->Image();
        QVERIFY(later != half);

        auto fresh = ShownBar();
        QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
        fresh->Start(1000);
        fresh->Advance(600);
        QCOMPARE(later, fresh->Image());

        bar->Cls();
        QCOMPARE(Count(bar->Image(), 0, later.width(), IsBlue), 0);
    }

    void countStaysWithinTheTotalAndWithin32Bits() {
        bar->Start(8);
        bar->Advance(5);
        bar->Advance(5); // past the total: full
        QCOMPARE(bar->RowsDone(), 8);
        QCOMPARE(bar->Text(), QString("100%"));
        QVERIFY(IsBlue(bar->Image().pixel(bar->Image().width() - 2, 2)));

        for (double width : {0.0, -5.0}) { // no total: nothing drawn, nothing capped
            bar->Start(width);
            bar->Advance(std::numeric_limits<std::int32_t>::max());
            QCOMPARE(Count(bar->Image(), 0, bar->Image().width(), IsBlue), 0);
        }
        QVERIFY_THROWS_EXCEPTION(platform::Error, bar->Advance(1)); // the scripting overflow
    }

private:
    std::unique_ptr<RowProgressBar> bar;
};

QTEST_MAIN(ProgressBarTest)
#include "ProgressBarTest.moc"
