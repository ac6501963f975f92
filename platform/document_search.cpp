#include "document_search.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace tavro {

namespace {

// Text is searched in windows of about this many characters: large enough
// that short blocks cost little each, small enough that a match near the
// start is found after reading little.
constexpr qsizetype kChunk = 16 * 1024;

qsizetype TextLength(const QTextDocument& document)
{
    return document.characterCount() - 1; // the document counts a break after the last block
}

// Turns the breaks of the text from index at on into '\n'.
void MapBreaks(QString& text, qsizetype at)
{
    QChar* c = text.data() + at;
    QChar* const end = text.data() + text.size();
    for (; c != end; ++c) {
        if (*c == QChar::ParagraphSeparator || *c == QChar::LineSeparator)
            *c = QLatin1Char('\n');
    }
}

// Appends the block's text from index skip on, then its break as '\n'
// unless it is the last block.
void AppendBlock(QString& window, const QTextBlock& block, qsizetype skip)
{
    const qsizetype at = window.size();
    window.append(QStringView(block.text()).mid(skip));
    MapBreaks(window, at);
    if (block.next().isValid())
        window.append(QLatin1Char('\n'));
}

} // namespace

ForwardSearch::ForwardSearch(const QTextDocument& document, const QString& find, qsizetype from,
                             Qt::CaseSensitivity cs)
    : m_find(find), m_cs(cs)
{
    from = std::max<qsizetype>(from, 0);
    if (from > TextLength(document)) {
        m_done = true;
        return;
    }
    const QTextBlock block = document.findBlock(static_cast<int>(from));
    m_windowStart = from;
    AppendBlock(m_window, block, from - block.position());
    m_nextBlock = block.next();
    Fill();
}

void ForwardSearch::Fill()
{
    while (m_nextBlock.isValid() && m_window.size() < kChunk) {
        AppendBlock(m_window, m_nextBlock, 0);
        m_nextBlock = m_nextBlock.next();
    }
}

qsizetype ForwardSearch::Next(qsizetype last)
{
    if (m_done)
        return -1;
    const qsizetype length = m_find.size();
    if (length == 0) {
        m_done = true;
        return m_windowStart <= last ? m_windowStart : -1;
    }
    for (;;) {
        const qsizetype index = m_window.indexOf(m_find, m_searchFrom, m_cs);
        if (index >= 0) {
            const qsizetype pos = m_windowStart + index;
            if (pos > last)
                return -1;
            m_searchFrom = index + length;
            return pos;
        }
        if (!m_nextBlock.isValid()) {
            m_done = true;
            return -1;
        }
        // A match can still start in the last length - 1 characters, and
        // never before the end of the previous match.
        const qsizetype keep = std::max(m_searchFrom, m_window.size() - (length - 1));
        if (m_windowStart + keep > last)
            return -1;
        m_window.remove(0, keep);
        m_windowStart += keep;
        m_searchFrom = 0;
        Fill();
    }
}

qsizetype FindForward(const QTextDocument& document, const QString& find, qsizetype from,
                      qsizetype last, Qt::CaseSensitivity cs)
{
    return ForwardSearch(document, find, from, cs).Next(last);
}

qsizetype FindBackward(const QTextDocument& document, const QString& find, qsizetype end,
                       qsizetype first, Qt::CaseSensitivity cs)
{
    const qsizetype length = find.size();
    end = std::min(end, TextLength(document));
    first = std::max<qsizetype>(first, 0);
    if (end - length < first)
        return -1;
    if (length == 0)
        return end;
    QTextBlock block = document.findBlock(static_cast<int>(end));
    qsizetype windowStart = block.position();
    QString window = block.text().left(end - windowStart);
    MapBreaks(window, 0);
    std::vector<QTextBlock> earlier;
    for (;;) {
        if (window.size() >= length) {
            const qsizetype index = window.lastIndexOf(find, window.size() - length, cs);
            if (index >= 0) {
                const qsizetype pos = windowStart + index;
                return pos >= first ? pos : -1;
            }
        }
        if (windowStart <= first || !block.previous().isValid())
            return -1;
        // A match can still end in the first length - 1 characters.
        window.truncate(std::min(length - 1, window.size()));
        earlier.clear();
        qsizetype size = window.size();
        while (size < kChunk && block.previous().isValid() && block.position() > first) {
            block = block.previous();
            earlier.push_back(block);
            size += block.length();
        }
        QString chunk;
        chunk.reserve(size);
        for (auto it = earlier.rbegin(); it != earlier.rend(); ++it)
            AppendBlock(chunk, *it, 0);
        chunk.append(window);
        window = std::move(chunk);
        windowStart = block.position();
    }
}

QString TextRange(const QTextDocument& document, qsizetype start, qsizetype end)
{
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    MapBreaks(text, 0);
    return text;
}

} // namespace tavro
