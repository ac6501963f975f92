// What the editor's dialogs share in look and feel: their frame, their
// push buttons, their choices by radio button, and dialog units to size
// them by.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QPushButton>
#include <QString>

namespace tavro {

// A fixed-size dialog frame: caption, system menu and close box; no resizing.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// A push button that is never a default button: Enter presses it only while
// it has the focus.
inline QPushButton* MakePlainButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// Of two radio buttons that choose one thing, only the checked one is a
// tab stop; the arrow keys (or the mouse) reach the other. (Qt's own rule
// keeps the one last focused, so Tab could land on the choice not taken.)
inline void MakeTabStop(QAbstractButton* checked, QAbstractButton* other)
{
    checked->setFocusPolicy(Qt::StrongFocus);
    other->setFocusPolicy(Qt::ClickFocus);
}

// Dialog units, as the dialogs were first drawn in: a quarter of the average
// Latin letter width across, an eighth of the font height down. Measured on
// the dialog's own font, so the proportions hold on any font and scale.
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
