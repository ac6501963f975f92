// A one-line field for a password whose characters live in one buffer of
// its own and nowhere else: the buffer is wiped when it grows, when
// characters are removed, when the field is cleared and when it goes.
// (QLineEdit keeps copies of its text it never wipes: its undo history, its
// text layout and every string it hands out.) Typing, input methods, paste,
// the caret and a selection by keyboard and mouse; nothing can be copied or
// cut out of it, and there is no undo. Enter, Escape and Tab are left to
// the dialog.
#pragma once

#include "secure_memory.h"

#include <QLineEdit>
#include <QWidget>

#include <string_view>
#include <vector>

namespace tavro {

class SecretLineEdit : public QWidget {
    Q_OBJECT
public:
    explicit SecretLineEdit(QWidget* parent = nullptr);
    ~SecretLineEdit() override;

    // The characters, valid until the next change of the field. Never
    // copied into a QString by the field itself, except for the moment it
    // paints them (a copy wiped right after).
    std::u16string_view text() const { return {m_text.data(), m_text.size()}; }
    bool isEmpty() const { return m_text.empty(); }
    // Replaces the text (the caller's string stays the caller's to wipe).
    void setText(QStringView text);
    // Wipes the text; the caret goes to the start.
    void clear();

    // Normal shows the characters as typed, Password a dot for each.
    void setEchoMode(QLineEdit::EchoMode mode);
    QLineEdit::EchoMode echoMode() const { return m_echoMode; }

    // The caret and the selection, in characters.
    int cursorPosition() const { return m_caret; }
    bool hasSelectedText() const { return m_anchor != m_caret; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Input methods learn where the caret is, never the text around it.
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

signals:
    void textChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Wiped on every release of memory; see the file comment.
    using Buffer = std::vector<char16_t, WipingAllocator<char16_t>>;

    void Insert(std::u16string_view text);
    void Erase(int from, int to);
    bool RemoveSelection();
    void MoveCaret(int position, bool select);
    void Changed();
    void RestartBlink();
    QRect TextRect() const;
    // The characters as painted (dots for Password), the preedit of an
    // input method inserted at the caret; the caller wipes it.
    QString DisplayText() const;
    // Where a position of the text is in DisplayText(); the caret's is
    // after the preedit.
    int DisplayPosition(int position) const;
    int PositionAt(int x) const;

    Buffer m_text;
    Buffer m_preedit; // what an input method is composing, not yet typed
    int m_caret = 0;
    int m_anchor = 0; // the other end of the selection
    int m_scroll = 0; // pixels of the text scrolled out on the left
    QLineEdit::EchoMode m_echoMode = QLineEdit::Normal;
    bool m_caretShown = true;
    int m_blinkTimer = 0;
};

} // namespace tavro
