#include "app/highdpi.h"

#include <QGuiApplication>

void useWholeScaleFactors()
{
    // Floor keeps 120 and 144 dpi screens at device pixel ratio 1 with their logical DPI, and
    // gives 192 dpi a ratio of 2 with 96 logical dpi: the dialog's own factor (logical DPI / 96)
    // and Qt's ratio then never both enlarge the window.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
}
