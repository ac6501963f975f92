// Dialog units, as the dialogs were first drawn in: a quarter of the average
// Latin letter width across, an eighth of the font height down. Measured on
// the dialog's own font, so the proportions hold on any font and scale.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace tavro {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
        m_baseY = metrics.height();
    }
    int X(int units) const { return units * m_baseX / 4; }
    int Y(int units) const { return units * m_baseY / 8; }

private:
    int m_baseX = 6;
    int m_baseY = 13;
};

} // namespace tavro
