// Records drawing calls and renders them into the off-screen image only when it is painted or read,
// so that repeated identical redraws cost nothing.

#include "setup/PictureBox.h"

#include "setup/Twips.h"

#include <QFontMetricsF>
#include <QPaintEvent>

namespace lorvanta::setup {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool PictureBox::Drawing::operator==(const Drawing& other) const {
    return kind == other.kind && text == other.text && place == other.place &&
           color == other.color && font == other.font && mode == other.mode;
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Render();
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
    Render();
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

double PictureBox::ToPixelsX(double x) const {
    return scaleWidth_ > 0 ? x * width() / scaleWidth_ : 0;
}

double PictureBox::ToPixelsY(double y) const {
    return scaleHeight_ > 0 ? y * height() / scaleHeight_ : 0;
}

const QImage& PictureBox::Image() const {
    Render();
    return image_;
}

void PictureBox::Cls() {
    wanted_.clear();
    clearWanted_ = true;
    clearColor_ = backColor;
    update();
}

void PictureBox::Record(Drawing drawing) {
    wanted_.push_back(std::move(drawing));
    update();
}

void PictureBox::Render() const {
    if (!clearWanted_ && wanted_.empty())
        return;
    QPainter painter(&image_);
    if (clearWanted_) {
        const bool same = shownSinceClear_ && shownClearColor_ == clearColor_ && shown_ == wanted_;
        if (!same) {
            image_.fill(clearColor_);
            for (const auto& drawing : wanted_)
                Draw(painter, drawing);
        }
        shown_ = std::move(wanted_);
        shownSinceClear_ = true;
        shownClearColor_ = clearColor_;
    } else {
        for (const auto& drawing : wanted_)
            Draw(painter, drawing);
        shown_.insert(shown_.end(), wanted_.begin(), wanted_.end());
    }
    wanted_.clear();
    clearWanted_ = false;
    // Drawing on and on without a clear: stop remembering, the image is what it is.
    constexpr std::size_t kLongestHistory = 256;
    if (shown_.size() > kLongestHistory) {
        shown_.clear();
        shownSinceClear_ = false;
    }
}

void PictureBox::Draw(QPainter& painter, const Drawing& drawing) const {
    painter.setCompositionMode(drawing.mode);
    if (drawing.kind == Drawing::Kind::Box) {
        painter.fillRect(drawing.place, drawing.color);
        return;
    }
    painter.setFont(drawing.font);
    painter.setPen(drawing.color);
    painter.drawText(drawing.place.topLeft(), drawing.text);
}

double PictureBox::TextWidth(const QString& text) const {
    if (text != measuredText_ || font() != measuredFont_) {
        measuredPixels_ = QFontMetricsF(font()).horizontalAdvance(text);
        measuredText_ = text;
        measuredFont_ = font();
    }
    return width() > 0 ? measuredPixels_ * scaleWidth_ / width() : 0;
}

double PictureBox::TextHeight(const QString&) const {
    const double pixels = QFontMetricsF(font()).height();
    return height() > 0 ? pixels * scaleHeight_ / height() : 0;
}

void PictureBox::Print(const QString& text, double x, double y) {
    const QFontMetricsF metrics(font());
    Record({Drawing::Kind::Text, text,
            QRectF(QPointF(ToPixelsX(x), ToPixelsY(y) + metrics.ascent()), QSizeF()), foreColor,
            font(), QPainter::CompositionMode_SourceOver});
}

void PictureBox::FilledBox(double x1, double y1, double x2, double y2) {
    const QRectF box(QPointF(ToPixelsX(x1), ToPixelsY(y1)), QPointF(ToPixelsX(x2), ToPixelsY(y2)));
    Record({Drawing::Kind::Box, {}, box.normalized(), foreColor, font(), drawMode});
}

} // namespace lorvanta::setup
