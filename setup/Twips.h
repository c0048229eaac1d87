#pragma once

// The window layouts are given in twips; at the 96 DPI of our displays 15 twips make a pixel.

#include <QRect>

namespace lorvanta::setup {

constexpr int kTwipsPerPixel = 15;

int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);

// Rounds to the nearest whole number, halves to the even neighbour (as the window code expects
// of every rounding: 12.5 gives 12, 37.5 gives 38).
long long RoundHalfEven(double value);

} // namespace lorvanta::setup
