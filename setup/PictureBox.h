#pragma once

// A drawing surface with a persistent off-screen image and its own scale, for the progress bar:
// what is drawn stays until cleared and is shown whole on every repaint.
//
// Drawing is recorded and done when the image is next needed (painted or read): a progress bar
// cleared and drawn again the same way for every row of a long list (the common case: the text
// and the bar's width change only every so many rows) then costs nothing.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <vector>

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

    const QImage& Image() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Drawing {
        enum class Kind { Text, Box } kind;
        QString text;
        QRectF place; // the text's baseline origin (top-left), or the box
        QColor color;
        QFont font;
        QPainter::CompositionMode mode;
        bool operator==(const Drawing& other) const;
    };

    double ToPixelsX(double x) const;
    double ToPixelsY(double y) const;
    void Record(Drawing drawing);
    void Render() const;
    void Draw(QPainter& painter, const Drawing& drawing) const;

    mutable QImage image_;
    // Recorded since the image was last rendered; `clearWanted_` when a Cls came first.
    mutable std::vector<Drawing> wanted_;
    mutable bool clearWanted_ = false;
    QColor clearColor_;
    // What the image shows since its last clear, while known (a long history is let go).
    mutable std::vector<Drawing> shown_;
    mutable bool shownSinceClear_ = false;
    mutable QColor shownClearColor_;
    // The last text measured, as measuring shapes it.
    mutable QString measuredText_;
    mutable QFont measuredFont_;
    mutable double measuredPixels_ = 0;
    double scaleWidth_ = 0;
    double scaleHeight_ = 0;
};

} // namespace lorvanta::setup
