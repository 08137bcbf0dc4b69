#pragma once

#include <cstdint>

class QWidget;

namespace ModGlob {

// Moves a top-level window to the middle of its screen (centredPosition); never fails: without a
// screen the window stays where it is.
void CenterWindow(QWidget& window);

struct TwipsPosition {
    int64_t left = 0;
    int64_t top = 0;
    bool operator==(const TwipsPosition&) const = default;
};

// Where CenterWindow puts a window, all in twips: (screen - window outer size) \ 2, the classic
// integer division: the difference rounded to a whole number (halves to the even neighbour),
// then halved with the remainder dropped (toward zero). A window larger than the screen gets a
// negative position.
TwipsPosition centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight);

// Twips per pixel at a logical resolution (15 at 96 dots per inch).
double twipsPerPixel(double logicalDpi);

}  // namespace ModGlob
