#pragma once

// A check box whose caption wraps onto several lines within its width, and that toggles on a
// click anywhere on it, caption included.

#include <QCheckBox>

namespace lorvanta::setup {

class WrappingCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

} // namespace lorvanta::setup
