#include "setup/PictureBox.h"

#include "setup/Twips.h"

#include <QFontMetricsF>
#include <QPaintEvent>

namespace lorvanta::setup {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Raster operations need a 32-bit RGB image.
    QImage resized(size() * devicePixelRatioF(), QImage::Format_RGB32);
    resized.setDevicePixelRatio(devicePixelRatioF());
    resized.fill(backColor);
    if (!image_.isNull()) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, image_);
    }
    image_ = resized;
    if (scaleWidth_ == 0 && scaleHeight_ == 0) {
        scaleWidth_ = width() * kTwipsPerPixel;
        scaleHeight_ = height() * kTwipsPerPixel;
    }
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

double PictureBox::ToPixelsX(double x) const {
    return scaleWidth_ > 0 ? x * width() / scaleWidth_ : 0;
}

double PictureBox::ToPixelsY(double y) const {
    return scaleHeight_ > 0 ? y * height() / scaleHeight_ : 0;
}

void PictureBox::Cls() {
    image_.fill(backColor);
    update();
}

double PictureBox::TextWidth(const QString& text) const {
    const double pixels = QFontMetricsF(font()).horizontalAdvance(text);
    return width() > 0 ? pixels * scaleWidth_ / width() : 0;
}

double PictureBox::TextHeight(const QString&) const {
    const double pixels = QFontMetricsF(font()).height();
    return height() > 0 ? pixels * scaleHeight_ / height() : 0;
}

void PictureBox::Print(const QString& text, double x, double y) {
    QPainter painter(&image_);
    painter.setFont(font());
    painter.setPen(foreColor);
    const QFontMetricsF metrics(font());
    painter.drawText(QPointF(ToPixelsX(x), ToPixelsY(y) + metrics.ascent()), text);
    update();
}

void PictureBox::FilledBox(double x1, double y1, double x2, double y2) {
    QPainter painter(&image_);
    painter.setCompositionMode(drawMode);
    const QRectF box(QPointF(ToPixelsX(x1), ToPixelsY(y1)), QPointF(ToPixelsX(x2), ToPixelsY(y2)));
    painter.fillRect(box.normalized(), foreColor);
    update();
}

} // namespace lorvanta::setup
