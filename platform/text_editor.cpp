#include "text_editor.h"

#include "secret_clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace tavro {

TextEditor::TextEditor(QWidget* parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

QString TextEditor::text() const
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

void TextEditor::setText(const QString& text)
{
    setPlainText(text);
}

qsizetype TextEditor::textLength() const
{
    // The document counts one separator after the last block.
    return document()->characterCount() - 1;
}

void TextEditor::select(qsizetype start, qsizetype end)
{
    const qsizetype length = textLength();
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

std::pair<qsizetype, qsizetype> TextEditor::selection() const
{
    const QTextCursor cursor = textCursor();
    return {cursor.selectionStart(), cursor.selectionEnd()};
}

void TextEditor::replaceRange(qsizetype start, qsizetype end, const QString& text)
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

void TextEditor::setLocked(bool locked)
{
    setReadOnly(locked);
    if (locked)
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void TextEditor::applyFormat(const CharFormat2W& format)
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

QMimeData* TextEditor::createMimeDataFromSelection() const
{
    return new SecretMimeData(QTextDocumentFragment(textCursor()));
}

void TextEditor::pastePlainText()
{
    if (isReadOnly())
        return;
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty())
        insertPlainText(text);
}

} // namespace tavro

namespace tavro {

qsizetype TextEditor::topPosition() const
{
    return cursorForPosition(QPoint(0, 0)).position();
}

void TextEditor::scrollToTop(qsizetype position)
{
    // The vertical scroll bar counts the document's lines (one a block
    // without wrapping), so the line that holds position is its value.
    const QTextBlock block = document()->findBlock(static_cast<int>(position));
    if (!block.isValid())
        return;
    int line = block.firstLineNumber();
    if (const QTextLayout* layout = block.layout(); layout && layout->lineCount() > 0)
        line += layout->lineForTextPosition(static_cast<int>(position) - block.position()).lineNumber();
    verticalScrollBar()->setValue(line);
}

} // namespace tavro
