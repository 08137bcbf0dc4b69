#include "center_window.h"

#include "mod_glob.h"

#include <QScreen>
#include <QWidget>

#include <cmath>

namespace ModGlob {
namespace {
constexpr int32_t DivisionByZero = 11;
}

int64_t integerDivide(double dividend, double divisor)
{
    // nearbyint follows the default rounding mode: to nearest, halves to even.
    const auto a = static_cast<int64_t>(std::nearbyint(dividend));
    const auto b = static_cast<int64_t>(std::nearbyint(divisor));
    if (b == 0)
        throw RuntimeError::failure(DivisionByZero);
    return a / b;
}

TwipsPosition centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight)
{
    return {integerDivide(screenWidth - windowWidth, 2), integerDivide(screenHeight - windowHeight, 2)};
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
