// Drawing the progress of the mailbox enumeration.

#include "setup/RowProgressBar.h"

#include "platform/core/Error.h"
#include "setup/Twips.h"

#include <limits>

namespace lorvanta::setup {

namespace {
constexpr std::int32_t kOverflow = 6; // the scripting runtime's number for an overflow
}

RowProgressBar::RowProgressBar(QWidget* parent) : PictureBox(parent) {
}

void RowProgressBar::Prepare() {
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    backColor = QColor(0xFF, 0xFF, 0xFF);
    // Not-XOR pen: a blue bar shows blue over white and turns blue text under it white.
    drawMode = QPainter::RasterOp_NotSourceXorDestination;
    foreColor = QColor(0x00, 0x00, 0xFF);
    Cls();
}

void RowProgressBar::Start(double totalRows) {
    rowsDone_ = 0;
    SetScaleWidth(totalRows);
}

void RowProgressBar::Advance(std::int32_t rows) {
    const auto sum = std::int64_t{rowsDone_} + rows;
    if (sum > std::numeric_limits<std::int32_t>::max() ||
        sum < std::numeric_limits<std::int32_t>::min())
        throw platform::Error(kOverflow, "Overflow");
    rowsDone_ = static_cast<std::int32_t>(sum);

    const double scaleWidth = ScaleWidth();
    const double scaleHeight = ScaleHeight();
    Cls();
    if (scaleWidth <= 0)
        return; // no total to measure against: an empty bar
    if (rowsDone_ > scaleWidth)
        rowsDone_ = static_cast<std::int32_t>(RoundHalfEven(scaleWidth));

    const QString text = Text();
    const auto x = RoundHalfEven(scaleWidth - TextWidth(text)) / 2;
    const auto y = RoundHalfEven(scaleHeight - TextHeight(text)) / 2;
    Print(text, double(x), double(y));
    FilledBox(0, 0, rowsDone_, scaleHeight);
}

QString RowProgressBar::Text() const {
    const double scaleWidth = ScaleWidth();
    if (scaleWidth <= 0)
        return {};
    return QString::number(RoundHalfEven(rowsDone_ / scaleWidth * 100)) + "%";
}

} // namespace lorvanta::setup
