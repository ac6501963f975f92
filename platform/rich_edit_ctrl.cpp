#include "rich_edit_ctrl.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace tavro {

CRichEditCtrl::CRichEditCtrl(QWidget* parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

QString CRichEditCtrl::GetWindowText() const
{
    // Raw text keeps characters such as U+00A0 that toPlainText() would alter;
    // paragraph and line separators become '\n', one character each.
    QString text = document()->toRawText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return text;
}

void CRichEditCtrl::SetWindowText(const QString& text)
{
    setPlainText(text);
}

qsizetype CRichEditCtrl::GetTextLength() const
{
    // The document counts one separator after the last block.
    return document()->characterCount() - 1;
}

void CRichEditCtrl::SetSel(qsizetype start, qsizetype end)
{
    const qsizetype length = GetTextLength();
    QTextCursor cursor = textCursor();
    if (start < 0) {
        cursor.setPosition(cursor.selectionEnd());
        setTextCursor(cursor);
        return;
    }
    if (end < 0 || end > length)
        end = length;
    start = std::min(start, end);
    cursor.setPosition(static_cast<int>(end));
    cursor.setPosition(static_cast<int>(start), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void CRichEditCtrl::GetSel(qsizetype& start, qsizetype& end) const
{
    const QTextCursor cursor = textCursor();
    start = cursor.selectionStart();
    end = cursor.selectionEnd();
}

void CRichEditCtrl::ReplaceRange(qsizetype start, qsizetype end, const QString& text)
{
    const int horizontal = horizontalScrollBar()->value();
    const int vertical = verticalScrollBar()->value();
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    cursor.insertText(text);
    horizontalScrollBar()->setValue(horizontal);
    verticalScrollBar()->setValue(vertical);
}

void CRichEditCtrl::ReplaceRanges(const std::vector<qsizetype>& positions, qsizetype length,
                                  const QString& text)
{
    const int horizontal = horizontalScrollBar()->value();
    const int vertical = verticalScrollBar()->value();
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    // From the last to the first, so the positions still ahead stay valid.
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        cursor.setPosition(static_cast<int>(*it));
        cursor.setPosition(static_cast<int>(*it + length), QTextCursor::KeepAnchor);
        cursor.insertText(text);
    }
    cursor.endEditBlock();
    horizontalScrollBar()->setValue(horizontal);
    verticalScrollBar()->setValue(vertical);
}

void CRichEditCtrl::TakeDocument(CRichEditCtrl& from)
{
    QTextDocument* document = from.document();
    // The document belongs to the control that shows it: a control deletes
    // the document it owns when it is given another.
    document->setParent(this);
    from.setDocument(nullptr); // a new empty document of its own
    from.document()->setDefaultFont(from.font());
    // A plain-text layout lets only one of its views (the first, or a wider
    // one) set the width the text wraps at. A wrapping control must be that
    // view, else it would not rewrap when it narrows; a new layout has no
    // view yet, so this control becomes it. The text lays out afresh either
    // way; a control that does not wrap needs no new layout.
    if (lineWrapMode() != QPlainTextEdit::NoWrap)
        document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    setDocument(document); // deletes our former, empty document
    if (document->defaultFont() != font())
        document->setDefaultFont(font());
}

void CRichEditCtrl::SetReadOnly(bool readOnly)
{
    setReadOnly(readOnly);
    if (readOnly)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void CRichEditCtrl::SetWordCharFormat(CharFormat2W& format)
{
    format.setCbSize(static_cast<std::uint32_t>(kCharFormat2WSize));
    ShowFormat(format);
}

void CRichEditCtrl::SetSelectionCharFormat(CharFormat2W& format)
{
    format.setCbSize(static_cast<std::uint32_t>(kCharFormatWSize));
    ShowFormat(format);
}

void CRichEditCtrl::ShowFormat(const CharFormat2W& format)
{
    // All text carries the one format, so it is the control's font and text
    // colour. Setting an unchanged font would lay out the whole text again.
    const QFont font = format.toFont();
    if (!(this->font() == font) || this->font().families() != font.families())
        setFont(font);
    const QColor color = format.textColor();
    QPalette colors = palette();
    if (colors.color(QPalette::Active, QPalette::Text) != color ||
        colors.color(QPalette::Inactive, QPalette::Text) != color) {
        colors.setColor(QPalette::Active, QPalette::Text, color);
        colors.setColor(QPalette::Inactive, QPalette::Text, color);
        setPalette(colors);
    }
}

void CRichEditCtrl::PastePlainText()
{
    if (isReadOnly())
        return;
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty())
        insertPlainText(text);
}

} // namespace tavro
