#pragma once
// Fonts and dialog units for the Qt windows.

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include "window/dialog_template.hpp"

namespace q70::qt {

// The configured dialog font: `family` at `pointSize` points. A family this system does
// not have gives the application's font at that size, so that the layout still follows
// the configured size; a size of 0 or less keeps the application font's size.
QFont dialogFont(const QString& family, int pointSize);

// The font's dialog base units, measured as the original platform measures them.
window::BaseUnits baseUnits(const QFont& font);

inline QRect toQRect(const window::UnitRect& r) {
    return {r.x, r.y, r.width, r.height};
}
inline QSize toQSize(window::UnitSize s) {
    return {s.width, s.height};
}

}  // namespace q70::qt
