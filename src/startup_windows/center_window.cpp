#include "startup_windows/center_window.h"

#include <QScreen>
#include <QWidget>

#include <cmath>

namespace ModGlob {
namespace {

// twips \ 2. nearbyint follows the default rounding mode: to nearest, halves to even; the
// integer division truncates toward zero.
int64_t halved(double twips) { return static_cast<int64_t>(std::nearbyint(twips)) / 2; }

}  // namespace

TwipsPosition centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight)
{
    return {halved(screenWidth - windowWidth), halved(screenHeight - windowHeight)};
}

double twipsPerPixel(double logicalDpi) { return 1440.0 / logicalDpi; }

void CenterWindow(QWidget& window)
{
    // Placing the window is a courtesy: without a screen it stays where it is.
    const QScreen* screen = window.screen();
    if (!screen)
        return;
    const double tppX = twipsPerPixel(window.logicalDpiX());
    const double tppY = twipsPerPixel(window.logicalDpiY());
    const QRect area = screen->geometry();
    const QRect outer = window.frameGeometry();
    const TwipsPosition position = centredPosition(area.width() * tppX, area.height() * tppY,
                                                   outer.width() * tppX, outer.height() * tppY);
    window.move(area.x() + static_cast<int>(std::lround(static_cast<double>(position.left) / tppX)),
                area.y() + static_cast<int>(std::lround(static_cast<double>(position.top) / tppY)));
}

}  // namespace ModGlob
