#pragma once

#include <cstdint>

namespace ModGlob {

struct TwipsPosition {
    int64_t left = 0;
    int64_t top = 0;
    bool operator==(const TwipsPosition&) const = default;
};

// The classic integer division a \ b: both operands rounded to whole numbers (halves to the
// even neighbour), then the quotient truncated toward zero. A divisor that rounds to 0 fails (11).
int64_t integerDivide(double dividend, double divisor);

// Where CenterWindow puts a window, all in twips: (screen - window outer size) \ 2.
// A window larger than the screen gets a negative position.
TwipsPosition centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight);

// Twips per pixel at a logical resolution (15 at 96 dots per inch).
double twipsPerPixel(double logicalDpi);

}  // namespace ModGlob
