#pragma once

// The window's progress bar while the mailbox lists fill: it counts the directory rows done
// against the total, shows the percentage centred, and a blue bar that turns the text under it
// white.

#include "setup/PictureBox.h"

#include <cstdint>

namespace lorvanta::setup {

class RowProgressBar : public PictureBox {
public:
    explicit RowProgressBar(QWidget* parent = nullptr);

    // Bold text, white background, blue bar; cleared.
    void Prepare();
    // A new count of `totalRows` rows, none done yet.
    void Start(double totalRows);
    // Counts `rows` more as done (at most the total) and draws the bar. A count past the 32-bit
    // range fails with an overflow.
    void Advance(std::int32_t rows);
    std::int32_t RowsDone() const { return rowsDone_; }
    // The percentage of rows done ("" without a total).
    QString Text() const;

private:
    std::int32_t rowsDone_ = 0;
};

} // namespace lorvanta::setup
