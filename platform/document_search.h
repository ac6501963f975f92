// Searching a QTextDocument in place, a chunk of text at a time, without
// taking a copy of the whole text.
//
// Positions are the editor's character positions: every block break (and
// every line separator inside a block) is one '\n'; all other characters,
// U+00A0 included, are compared as they are. A search string may hold '\n'
// and so match across block breaks. The cost of a search depends on how far
// the match lies from where the search starts, not on the document's size.
#pragma once

#include <QString>
#include <QTextCursor>

#include <limits>

class QTextDocument;

namespace tavro {

inline constexpr qsizetype kNoLimit = std::numeric_limits<qsizetype>::max();

// Walks the document forward from a position and yields the occurrences of a
// string one after the other, left to right and non-overlapping: the next
// search starts at the end of the previous match.
class ForwardSearch {
public:
    // Nothing is found when from lies beyond the end of the text.
    ForwardSearch(const QTextDocument& document, const QString& find, qsizetype from,
                  Qt::CaseSensitivity cs);
    // The text read is overwritten before it is released.
    ~ForwardSearch();
    ForwardSearch(const ForwardSearch&) = delete;
    ForwardSearch& operator=(const ForwardSearch&) = delete;

    // The position of the next occurrence that starts at or before last, or
    // -1. An empty string is found once, at from.
    qsizetype Next(qsizetype last = kNoLimit);

private:
    // Appends the next chunk of text to the window.
    void Fill();

    QString m_find;
    Qt::CaseSensitivity m_cs;
    bool m_mapBreaks;            // the string holds '\n'
    QTextCursor m_cursor;        // reads the text
    qsizetype m_length;          // of the whole text
    QString m_window;            // text from m_windowStart to m_windowEnd, breaks as '\n'
    qsizetype m_windowStart = 0;
    qsizetype m_windowEnd = 0;
    qsizetype m_searchFrom = 0;  // index in m_window where the next match may start
    qsizetype m_chunk;           // characters to read next
    bool m_done = false;
};

// The first occurrence that starts at or after from and at or before last; -1
// if none (always none when from lies beyond the end of the text).
qsizetype FindForward(const QTextDocument& document, const QString& find, qsizetype from,
                      qsizetype last, Qt::CaseSensitivity cs);

// The last occurrence that ends at or before end and starts at or after
// first; -1 if none.
qsizetype FindBackward(const QTextDocument& document, const QString& find, qsizetype end,
                       qsizetype first, Qt::CaseSensitivity cs);

// The text from start to end, breaks as '\n'.
QString TextRange(const QTextDocument& document, qsizetype start, qsizetype end);

} // namespace tavro
