#include "secret_line_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace tavro {
namespace {

// The space between the frame's contents and the text, as in QLineEdit.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

// Overwrites a string the field made for painting or measuring, in place
// (whoever else might share it included).
void Wipe(QString& text)
{
    if (!text.isEmpty())
        SecureWipe(const_cast<QChar*>(text.constData()), static_cast<std::size_t>(text.size()) * sizeof(QChar));
}

std::u16string_view View(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

void InitFrame(const QWidget* widget, QStyleOptionFrame& option)
{
    option.initFrom(widget);
    option.rect = widget->rect();
    option.lineWidth = widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, widget);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
}

} // namespace

SecretLineEdit::SecretLineEdit(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed, QSizePolicy::LineEdit));
    m_text.reserve(64); // a password rarely makes it grow
}

SecretLineEdit::~SecretLineEdit()
{
    clear(); // the allocator wipes the whole block again as it frees it
}

void SecretLineEdit::setText(QStringView text)
{
    clear();
    Insert({text.utf16(), static_cast<std::size_t>(text.size())});
}

void SecretLineEdit::clear()
{
    SecureWipe(m_text.data(), m_text.size() * sizeof(char16_t));
    m_text.clear();
    SecureWipe(m_preedit.data(), m_preedit.size() * sizeof(char16_t));
    m_preedit.clear();
    m_caret = m_anchor = 0;
    m_scroll = 0;
    Changed();
}

void SecretLineEdit::setEchoMode(QLineEdit::EchoMode mode)
{
    m_echoMode = mode == QLineEdit::Password ? QLineEdit::Password : QLineEdit::Normal;
    update();
}

void SecretLineEdit::Insert(std::u16string_view text)
{
    if (text.empty())
        return;
    RemoveSelection();
    // Grown ahead of need by hand: the allocator wipes the block given up.
    const std::size_t needed = m_text.size() + text.size();
    if (needed > m_text.capacity())
        m_text.reserve(std::max(needed, 2 * m_text.capacity()));
    m_text.insert(m_text.begin() + m_caret, text.begin(), text.end());
    m_caret += static_cast<int>(text.size());
    m_anchor = m_caret;
    Changed();
}

void SecretLineEdit::Erase(int from, int to)
{
    const std::size_t before = m_text.size();
    m_text.erase(m_text.begin() + from, m_text.begin() + to);
    // The characters moved down leave their old places behind the end.
    SecureWipe(m_text.data() + m_text.size(), (before - m_text.size()) * sizeof(char16_t));
    m_caret = m_anchor = from;
    Changed();
}

bool SecretLineEdit::RemoveSelection()
{
    if (!hasSelectedText())
        return false;
    Erase(std::min(m_caret, m_anchor), std::max(m_caret, m_anchor));
    return true;
}

void SecretLineEdit::MoveCaret(int position, bool select)
{
    m_caret = std::clamp(position, 0, static_cast<int>(m_text.size()));
    if (!select)
        m_anchor = m_caret;
    m_caretShown = true;
    RestartBlink();
    update();
    updateMicroFocus();
}

void SecretLineEdit::Changed()
{
    m_caretShown = true;
    RestartBlink();
    update();
    updateMicroFocus();
    emit textChanged();
}

void SecretLineEdit::RestartBlink()
{
    if (m_blinkTimer != 0)
        killTimer(m_blinkTimer);
    m_blinkTimer = 0;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blinkTimer = startTimer(flash / 2);
}

void SecretLineEdit::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_blinkTimer)
        return QWidget::timerEvent(event);
    m_caretShown = !m_caretShown;
    update();
}

QString SecretLineEdit::DisplayText() const
{
    const qsizetype length = static_cast<qsizetype>(m_text.size() + m_preedit.size());
    if (m_echoMode == QLineEdit::Password)
        return QString(length, QChar(style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, this)));
    QString shown(length, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(shown.data());
    const auto caret = static_cast<std::size_t>(m_caret);
    out = std::copy(m_text.begin(), m_text.begin() + static_cast<std::ptrdiff_t>(caret), out);
    out = std::copy(m_preedit.begin(), m_preedit.end(), out);
    std::copy(m_text.begin() + static_cast<std::ptrdiff_t>(caret), m_text.end(), out);
    return shown;
}

int SecretLineEdit::DisplayPosition(int position) const
{
    return position < m_caret ? position : position + static_cast<int>(m_preedit.size());
}

QRect SecretLineEdit::TextRect() const
{
    QStyleOptionFrame option;
    InitFrame(this, option);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
        .adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

int SecretLineEdit::PositionAt(int x) const
{
    QString shown = DisplayText();
    const QFontMetrics metrics(font());
    const int target = x - TextRect().left() + m_scroll;
    int best = 0;
    int bestDistance = std::abs(target);
    for (int i = 1; i <= static_cast<int>(m_text.size()); ++i) {
        const int distance = std::abs(metrics.horizontalAdvance(shown, DisplayPosition(i)) - target);
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    Wipe(shown);
    return best;
}

void SecretLineEdit::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame panel;
    InitFrame(this, panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);

    const QRect area = TextRect();
    const QFontMetrics metrics(font());
    QString shown = DisplayText();
    const int caretX = metrics.horizontalAdvance(shown, DisplayPosition(m_caret)); // after the preedit
    // The caret stays in view.
    if (caretX - m_scroll > area.width() - 1)
        m_scroll = caretX - area.width() + 1;
    if (caretX < m_scroll)
        m_scroll = caretX;
    if (metrics.horizontalAdvance(shown) < area.width())
        m_scroll = 0;

    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : (isActiveWindow() ? QPalette::Active : QPalette::Inactive);
    const QPalette& colors = palette();
    const QPoint origin(area.left() - m_scroll, area.top() + (area.height() - metrics.height()) / 2);
    const QPoint baseline = origin + QPoint(0, metrics.ascent());
    painter.setClipRect(area);
    painter.setFont(font());
    painter.setPen(colors.color(group, QPalette::Text));
    painter.drawText(baseline, shown);
    if (hasSelectedText()) {
        const int from = metrics.horizontalAdvance(shown, DisplayPosition(std::min(m_caret, m_anchor)));
        const int to = metrics.horizontalAdvance(shown, DisplayPosition(std::max(m_caret, m_anchor)));
        const QRect selected = QRect(origin.x() + from, area.top(), to - from, area.height()) & area;
        painter.save();
        painter.setClipRect(selected);
        painter.fillRect(selected, colors.brush(group, QPalette::Highlight));
        painter.setPen(colors.color(group, QPalette::HighlightedText));
        painter.drawText(baseline, shown);
        painter.restore();
    }
    if (!m_preedit.empty()) {
        const int from = metrics.horizontalAdvance(shown, m_caret);
        const int y = baseline.y() + metrics.underlinePos();
        painter.drawLine(origin.x() + from, y, origin.x() + caretX, y);
    }
    if (hasFocus() && m_caretShown && isEnabled())
        painter.fillRect(QRect(origin.x() + caretX, origin.y(), 1, metrics.height()), colors.color(group, QPalette::Text));
    Wipe(shown);
}

void SecretLineEdit::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const int length = static_cast<int>(m_text.size());
    if (event->matches(QKeySequence::SelectAll)) {
        m_anchor = 0;
        MoveCaret(length, true);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        QString pasted = QApplication::clipboard()->text();
        // One line: a line break ends what is pasted.
        const std::u16string_view line = View(pasted);
        Insert(line.substr(0, line.find_first_of(u"\r\n")));
        if (pasted.isDetached())
            Wipe(pasted); // a string the clipboard still holds is the clipboard's
        return;
    }
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut))
        return; // nothing leaves the field
    switch (event->key()) {
    case Qt::Key_Backspace:
        if (!RemoveSelection() && m_caret > 0)
            Erase(m_caret - 1, m_caret);
        return;
    case Qt::Key_Delete:
        if (!RemoveSelection() && m_caret < length)
            Erase(m_caret, m_caret + 1);
        return;
    case Qt::Key_Left:
        MoveCaret(hasSelectedText() && !shift ? std::min(m_caret, m_anchor) : m_caret - 1, shift);
        return;
    case Qt::Key_Right:
        MoveCaret(hasSelectedText() && !shift ? std::max(m_caret, m_anchor) : m_caret + 1, shift);
        return;
    case Qt::Key_Home:
        MoveCaret(0, shift);
        return;
    case Qt::Key_End:
        MoveCaret(length, shift);
        return;
    default:
        break;
    }
    const QString typed = event->text();
    const bool command = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    if (!typed.isEmpty() && typed.at(0).isPrint() && !command) {
        Insert(View(typed));
        return;
    }
    event->ignore(); // Enter, Escape, Tab and the rest go to the dialog
}

void SecretLineEdit::inputMethodEvent(QInputMethodEvent* event)
{
    SecureWipe(m_preedit.data(), m_preedit.size() * sizeof(char16_t));
    m_preedit.clear();
    Insert(View(event->commitString()));
    const std::u16string_view preedit = View(event->preeditString());
    m_preedit.assign(preedit.begin(), preedit.end());
    update();
    updateMicroFocus();
    event->accept();
}

QVariant SecretLineEdit::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return isEnabled();
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle: {
        QString shown = DisplayText();
        const QFontMetrics metrics(font());
        const QRect area = TextRect();
        const int x = area.left() - m_scroll + metrics.horizontalAdvance(shown, DisplayPosition(m_caret));
        Wipe(shown);
        return QRect(x, area.top() + (area.height() - metrics.height()) / 2, 1, metrics.height());
    }
    case Qt::ImFont:
        return font();
    case Qt::ImHints:
        return int(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                   (m_echoMode == QLineEdit::Password ? Qt::ImhHiddenText : Qt::ImhNone));
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
    case Qt::ImTextBeforeCursor:
    case Qt::ImTextAfterCursor:
        return QString();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return 0;
    default:
        return QWidget::inputMethodQuery(query);
    }
}

void SecretLineEdit::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    MoveCaret(PositionAt(event->position().toPoint().x()), event->modifiers().testFlag(Qt::ShiftModifier));
}

void SecretLineEdit::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        MoveCaret(PositionAt(event->position().toPoint().x()), true);
}

void SecretLineEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseDoubleClickEvent(event);
    m_anchor = 0;
    MoveCaret(static_cast<int>(m_text.size()), true);
}

void SecretLineEdit::focusInEvent(QFocusEvent* event)
{
    // Tabbed into, the text is selected, so typing replaces it.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) {
        m_anchor = 0;
        m_caret = static_cast<int>(m_text.size());
    }
    m_caretShown = true;
    RestartBlink();
    update();
    QWidget::focusInEvent(event);
}

void SecretLineEdit::focusOutEvent(QFocusEvent* event)
{
    RestartBlink(); // stops: no focus
    update();
    QWidget::focusOutEvent(event);
}

QSize SecretLineEdit::sizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    QStyleOptionFrame option;
    InitFrame(this, option);
    const QSize contents(metrics.horizontalAdvance(QLatin1Char('x')) * 17 + 2 * kHorizontalMargin,
                         std::max(metrics.height(), 14) + 2 * kVerticalMargin);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this);
}

QSize SecretLineEdit::minimumSizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    QStyleOptionFrame option;
    InitFrame(this, option);
    const QSize contents(metrics.maxWidth() + 2 * kHorizontalMargin,
                         std::max(metrics.height(), 14) + 2 * kVerticalMargin);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this);
}

} // namespace tavro
