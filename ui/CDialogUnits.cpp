#include "CDialogUnits.h"

#include <QFontMetrics>

CDialogUnits::CDialogUnits(const QFont& font) {
    // Horizontal base: the rounded average width of the 52 letters; vertical: the font height.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_base = {(letters + 26) / 52, metrics.height()};
}

QRect CDialogUnits::Map(const QRect& dlu) const {
    return {ToX(dlu.x()), ToY(dlu.y()), ToX(dlu.width()), ToY(dlu.height())};
}
