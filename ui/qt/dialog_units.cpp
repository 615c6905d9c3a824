#include "dialog_units.h"

#include <QFontMetrics>

namespace {

// units * base / divisor, rounded half away from zero as dialog unit mapping does.
int Scale(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

// The average width of the 52 Latin letters, rounded: the average character width that dialog
// units are defined by. A font's own "average" figure is often far narrower than real text.
int AverageLetterWidth(const QFontMetrics& metrics) {
    static const QString kLetters =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const int width = metrics.horizontalAdvance(kLetters);
    return (width / 26 + 1) / 2;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    m_baseX = AverageLetterWidth(metrics);
    m_baseY = metrics.height();
}

int DialogUnits::X(int units) const {
    return Scale(units, m_baseX, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, m_baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
    return QRect(X(x), Y(y), X(cx), Y(cy));
}
