#include "document_search.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tavro {

namespace {

// Text is read in chunks that start small, so a match near the start is
// found after reading little, and grow, so a long search sets the reading
// cursor (which lays out the block it stands in) only now and then.
constexpr qsizetype kFirstChunk = 4 * 1024;
constexpr qsizetype kLargestChunk = 1024 * 1024;

qsizetype NextChunk(qsizetype chunk) { return std::min(chunk * 2, kLargestChunk); }

qsizetype TextLength(const QTextDocument& document)
{
    return document.characterCount() - 1; // the document counts a break after the last block
}

// Turns the breaks of the text into '\n'.
void MapBreaks(QString& text)
{
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
}

// Overwrites text read from the document, all of its buffer, before release.
void Wipe(QString& text)
{
    text.resize(text.capacity());
    text.fill(QChar(0));
    text.clear();
}

// The first occurrence of find in text at or after from. An exact search
// looks for the string's first character (a vectorised scan) and compares
// the rest there, several times faster than QString's general search on
// text where that character is not frequent.
qsizetype IndexOf(QStringView text, const QString& find, qsizetype from, Qt::CaseSensitivity cs)
{
    if (cs == Qt::CaseInsensitive || find.size() < 2)
        return text.indexOf(find, from, cs);
    const QChar first = find.front();
    const QStringView rest = QStringView(find).mid(1);
    const qsizetype last = text.size() - find.size();
    for (qsizetype pos = text.indexOf(first, from); pos >= 0 && pos <= last;
         pos = text.indexOf(first, pos + 1)) {
        if (text.mid(pos + 1, rest.size()) == rest)
            return pos;
    }
    return -1;
}

bool HasBreak(const QString& text)
{
    return text.contains(QChar::ParagraphSeparator) || text.contains(QChar::LineSeparator);
}

// The text from start to end as the document holds it, its breaks as '\n'
// when mapBreaks is set; else the document's own separators (U+2029 between
// blocks, U+2028 within one) stay, which no string without '\n' can match.
QString RawRange(QTextCursor& cursor, qsizetype start, qsizetype end, bool mapBreaks)
{
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    if (mapBreaks)
        MapBreaks(text);
    return text;
}

} // namespace

ForwardSearch::ForwardSearch(const QTextDocument& document, const QString& find, qsizetype from,
                             Qt::CaseSensitivity cs)
    : m_find(find), m_cs(cs), m_mapBreaks(find.contains(QLatin1Char('\n'))),
      m_cursor(const_cast<QTextDocument*>(&document)),
      m_length(TextLength(document)), m_chunk(kFirstChunk)
{
    from = std::max<qsizetype>(from, 0);
    // The text never holds a separator of the document's own.
    m_done = from > m_length || HasBreak(find);
    m_windowStart = m_windowEnd = std::min(from, m_length);
    Fill();
}

void ForwardSearch::Fill()
{
    const qsizetype end = std::min(m_windowEnd + m_chunk, m_length);
    if (end > m_windowEnd) {
        QString chunk = RawRange(m_cursor, m_windowEnd, end, m_mapBreaks);
        m_window.append(chunk);
        Wipe(chunk);
    }
    m_windowEnd = end;
    m_chunk = NextChunk(m_chunk);
}

ForwardSearch::~ForwardSearch()
{
    Wipe(m_window);
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
        const qsizetype index = IndexOf(m_window, m_find, m_searchFrom, m_cs);
        if (index >= 0) {
            const qsizetype pos = m_windowStart + index;
            if (pos > last)
                return -1;
            m_searchFrom = index + length;
            return pos;
        }
        if (m_windowEnd >= m_length) {
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
    if (end - length < first || HasBreak(find))
        return -1;
    if (length == 0)
        return end;
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    QString window;
    qsizetype windowStart = end;
    qsizetype chunk = kFirstChunk;
    const bool mapBreaks = find.contains(QLatin1Char('\n'));
    while (windowStart > first) {
        // A match can still end in the first length - 1 characters of the
        // window searched last.
        window.truncate(std::min(length - 1, window.size()));
        const qsizetype start = std::max(first, windowStart - chunk);
        chunk = NextChunk(chunk);
        QString piece = RawRange(cursor, start, windowStart, mapBreaks);
        piece.append(window);
        Wipe(window);
        window = std::move(piece);
        windowStart = start;
        if (window.size() < length)
            continue;
        const qsizetype index = window.lastIndexOf(find, window.size() - length, cs);
        if (index >= 0) {
            Wipe(window);
            return windowStart + index;
        }
    }
    Wipe(window);
    return -1;
}

QString TextRange(const QTextDocument& document, qsizetype start, qsizetype end)
{
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    return RawRange(cursor, start, end, true);
}

} // namespace tavro
