#include "qt/dialog_metrics.hpp"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

namespace q70::qt {

QFont dialogFont(const QString& family, int pointSize) {
    QFont font = QApplication::font();
    if (!family.isEmpty() && QFontDatabase::families().contains(family, Qt::CaseInsensitive)) {
        font.setFamily(family);
    }
    if (pointSize > 0) font.setPointSize(pointSize);
    return font;
}

window::BaseUnits baseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return window::baseUnitsFromFont(alphabet, metrics.height());
}

}  // namespace q70::qt
