// Draws the check box's caption wrapped to its width and makes the whole box a hit target.

#include "setup/WrappingCheckBox.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace lorvanta::setup {

WrappingCheckBox::WrappingCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    // The indicator sits at the top like a single-line box's, the caption wraps beside it.
    QStyleOptionButton indicatorOption = option;
    indicatorOption.rect =
        QRect(indicator.left(), (fontMetrics().height() - indicator.height()) / 2 + 1,
              indicator.width(), indicator.height());
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicatorOption);
    const int textLeft =
        indicator.right() + 1 + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    const QRect textRect(textLeft, 0, width() - textLeft, height());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect =
            painter.boundingRect(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text());
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool WrappingCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

} // namespace lorvanta::setup
