#include "sliced_replace_all.h"

#include <QTextCursor>

#include <algorithm>

namespace tavro {

namespace {

// Text read between looks at the clock while searching, and edits made
// between looks while replacing.
constexpr qsizetype kSearchSlice = 256 * 1024;
constexpr std::size_t kEditsBetweenLooks = 64;

} // namespace

SlicedReplaceAll::SlicedReplaceAll(QTextDocument& document, const QString& find, const QString& with)
    : m_document(&document), m_with(with), m_length(find.size()),
      m_textLength(document.characterCount() - 1) // the document counts a break after its last block
{
    // An empty string is nowhere to replace.
    if (!find.isEmpty())
        m_search = std::make_unique<ForwardSearch>(document, find, 0, Qt::CaseSensitive);
}

bool SlicedReplaceAll::RunFor(std::chrono::nanoseconds budget)
{
    if (!m_document)
        return true;
    const auto until = std::chrono::steady_clock::now() + budget;
    // A turn's one step may be a slice of the search or a batch of edits;
    // a search that ends early in the turn leaves time for edits.
    const bool searching = m_search != nullptr;
    if (searching)
        Search(until);
    if (!m_search && (!searching || std::chrono::steady_clock::now() < until))
        Replace(until);
    return !m_search && m_replaced == m_positions.size();
}

void SlicedReplaceAll::Search(std::chrono::steady_clock::time_point until)
{
    do {
        const qsizetype last = std::min(m_searchedTo + kSearchSlice, m_textLength) - 1;
        for (qsizetype pos = m_search->Next(last); pos >= 0; pos = m_search->Next(last))
            m_positions.push_back(pos);
        m_searchedTo = last + 1;
        if (m_searchedTo >= m_textLength) {
            m_search.reset(); // every occurrence is known
            return;
        }
    } while (std::chrono::steady_clock::now() < until);
}

void SlicedReplaceAll::Replace(std::chrono::steady_clock::time_point until)
{
    if (m_replaced == m_positions.size())
        return;
    QTextCursor cursor(m_document);
    // The first slice opens the undo step; each later one joins it.
    if (m_replaced == 0)
        cursor.beginEditBlock();
    else
        cursor.joinPreviousEditBlock();
    do {
        for (std::size_t edits = 0; edits < kEditsBetweenLooks && m_replaced < m_positions.size(); ++edits) {
            const qsizetype pos = m_positions[m_positions.size() - 1 - m_replaced];
            cursor.setPosition(static_cast<int>(pos));
            cursor.setPosition(static_cast<int>(pos + m_length), QTextCursor::KeepAnchor);
            cursor.insertText(m_with);
            ++m_replaced;
        }
    } while (m_replaced < m_positions.size() && std::chrono::steady_clock::now() < until);
    cursor.endEditBlock();
}

int SlicedReplaceAll::permille() const
{
    if (m_search)
        return m_textLength == 0 ? 0 : static_cast<int>(m_searchedTo * 100 / m_textLength);
    if (m_positions.empty())
        return 1000;
    return 100 + static_cast<int>(m_replaced * 900 / m_positions.size());
}

void SlicedReplaceAll::Revert()
{
    if (m_document && m_replaced > 0)
        m_document->undo();
    m_replaced = 0;
    m_positions.clear();
    m_search.reset();
}

} // namespace tavro
