// Dialog units to pixels through the dialog font, the way dialog templates measure.
#pragma once

#include <QFont>
#include <QRect>

// Converts dialog units for one font: horizontally a quarter of the font's average character
// width, vertically an eighth of its height.
class DialogUnits {
public:
    // Measures the font's base units.
    explicit DialogUnits(const QFont& font);
    // Horizontal dialog units to pixels, rounded.
    int X(int units) const;
    // Vertical dialog units to pixels, rounded.
    int Y(int units) const;
    // A template rectangle (x, y, width, height in dialog units) in pixels.
    QRect Rect(int x, int y, int cx, int cy) const;
    // The font's average character width in pixels.
    int BaseX() const { return m_baseX; }
    // The font's height in pixels.
    int BaseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};
