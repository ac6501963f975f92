// The plain-text editor control the window and the font preview use: one
// character format for all its text, character-position selection, the
// whole text with line breaks as '\n', edits made by the program that stay
// undoable and leave the view where it was, plain-text paste, and copies
// marked secret.
//
// Character positions count every line break as one character, so indices
// into text() are the control's own positions.
#pragma once

#include "char_format.h"

#include <QPlainTextEdit>


namespace tavro {

class TextEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextEditor(QWidget* parent = nullptr);

    // The whole text, line breaks as '\n' only (never '\r').
    QString text() const;
    // Replaces the whole text; the undo history starts afresh. Works while
    // read-only: only the user's edits are refused.
    void setText(const QString& text);
    qsizetype textLength() const;

    // Selects start..end; end -1 means the end of the text. Start -1 cancels
    // the selection and leaves the caret at the end of the former one. The
    // caret goes to start, so selecting everything does not scroll to the end.
    void select(qsizetype start, qsizetype end);
    // The selection as start and end positions (equal: the caret).
    std::pair<qsizetype, qsizetype> selection() const;

    // Replaces start..end by text as one undoable edit, program-side (allowed
    // while read-only), and leaves the view where it was.
    void replaceRange(qsizetype start, qsizetype end, const QString& text);

    // Read-only refuses typing, deleting, cutting, pasting and drops; the
    // text can still be selected (mouse and keyboard), copied and scrolled.
    void setLocked(bool locked);

    // Shows all text in format: its face, size, effects and colour.
    void applyFormat(const CharFormat2W& format);

    // Pastes the clipboard's plain text at the selection; refused while read-only.
    void pastePlainText();

    // The position of the first character shown at the top of the view.
    qsizetype topPosition() const;
    // Scrolls so that the line holding position is the first one shown.
    void scrollToTop(qsizetype position);

protected:
    // Copies, cuts, drags and the X11 selection carry the selection's plain
    // text marked secret for clipboard managers (see secret_clipboard.h).
    QMimeData* createMimeDataFromSelection() const override;
};

} // namespace tavro
