// A plain-text editor control with the operations the window's commands are
// written against: character-position selection, window text, read-only
// switch, one character format for all text, plain-text paste.
//
// Character positions count every line break as one character, so indices
// into GetWindowText() are the control's own positions.
#pragma once

#include "char_format.h"

#include <QPlainTextEdit>

#include <vector>

namespace tavro {

class CRichEditCtrl : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CRichEditCtrl(QWidget* parent = nullptr);

    // The whole text, line breaks as '\n' only (never '\r').
    QString GetWindowText() const;
    // Replaces the whole text; the undo history starts afresh. Works while
    // read-only: only the user's edits are refused.
    void SetWindowText(const QString& text);
    qsizetype GetTextLength() const;

    // Selects start..end; end -1 means the end of the text. Start -1 cancels
    // the selection and leaves the caret at the end of the former one. The
    // caret goes to start, so selecting everything does not scroll to the end.
    void SetSel(qsizetype start, qsizetype end);
    void GetSel(qsizetype& start, qsizetype& end) const;

    // Replaces start..end by text as one undoable edit, program-side (allowed
    // while read-only), and leaves the view where it was.
    void ReplaceRange(qsizetype start, qsizetype end, const QString& text);

    // Replaces length characters at each of the ascending, non-overlapping
    // positions by text, as one undoable edit.
    void ReplaceRanges(const std::vector<qsizetype>& positions, qsizetype length, const QString& text);

    // Takes over from's document, text, undo history and modification flag
    // included, laid out for this control's wrap mode; from gets a new empty
    // document. The text itself is not copied.
    void TakeDocument(CRichEditCtrl& from);

    // Read-only refuses typing, deleting, cutting, pasting and drops; the
    // text can still be selected (mouse and keyboard), copied and scrolled.
    void SetReadOnly(bool readOnly);

    // Shows all text in format; records the editor's use by setting the
    // record's size field to 116 (92 for the preview's call).
    void SetWordCharFormat(CharFormat2W& format);
    void SetSelectionCharFormat(CharFormat2W& format);

    // Pastes the clipboard's plain text at the selection; refused while read-only.
    void PastePlainText();

private:
    void ShowFormat(const CharFormat2W& format);
};

} // namespace tavro
