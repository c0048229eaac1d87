#pragma once

// A drawing surface with a persistent off-screen image and its own scale, for the progress bar:
// what is drawn stays until cleared and is shown whole on every repaint.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QWidget>

namespace lorvanta::setup {

class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // The scale: how many units the width and the height span. They start as the size in twips.
    double ScaleWidth() const { return scaleWidth_; }
    double ScaleHeight() const { return scaleHeight_; }
    void SetScaleWidth(double width) { scaleWidth_ = width; }
    void SetScaleHeight(double height) { scaleHeight_ = height; }

    QColor backColor = Qt::white;
    QColor foreColor = Qt::black;
    // How filled boxes combine with what is already drawn.
    QPainter::CompositionMode drawMode = QPainter::CompositionMode_SourceOver;

    // Clears the image to the background colour.
    void Cls();
    // Size of a text in scale units.
    double TextWidth(const QString& text) const;
    double TextHeight(const QString& text) const;
    // Prints a text in the foreground colour with its top-left corner at (x, y) in scale units.
    void Print(const QString& text, double x, double y);
    // A filled box in the foreground colour between two corners, combined by the draw mode.
    void FilledBox(double x1, double y1, double x2, double y2);

    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double ToPixelsX(double x) const;
    double ToPixelsY(double y) const;

    QImage image_;
    double scaleWidth_ = 0;
    double scaleHeight_ = 0;
};

} // namespace lorvanta::setup
