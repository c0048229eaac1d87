// Converts the windows' twip layouts to pixels, rounding half to even.

#include "setup/Twips.h"

#include <cfenv>
#include <cmath>

namespace lorvanta::setup {

int TwipsToPixels(int twips) {
    return static_cast<int>(RoundHalfEven(double(twips) / kTwipsPerPixel));
}

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

long long RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    auto result = static_cast<long long>(floor);
    if (fraction > 0.5 || (fraction == 0.5 && (result % 2 != 0)))
        ++result;
    return result;
}

} // namespace lorvanta::setup
