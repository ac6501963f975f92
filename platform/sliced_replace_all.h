// Replace All over a text document in slices, so that the UI thread can
// turn its event loop in between: first every occurrence is found (left to
// right, non-overlapping, as ForwardSearch finds them), then each is
// replaced, from the last to the first so the positions still ahead stay
// valid. However many slices it takes, the replacements are one undo step.
//
// Nothing else may edit the document while it runs (its owner takes the
// input away); a document that goes away ends it.
#pragma once

#include "document_search.h"

#include <QPointer>
#include <QString>
#include <QTextDocument>

#include <chrono>
#include <memory>
#include <vector>

namespace tavro {

class SlicedReplaceAll {
public:
    // Occurrences of find (matched case-sensitively) are to become with.
    SlicedReplaceAll(QTextDocument& document, const QString& find, const QString& with);

    // Works for about budget, and at least one step; true once all is done.
    bool RunFor(std::chrono::nanoseconds budget);
    // How far it is, in thousandths: the search counts for the first tenth.
    int permille() const;
    // The occurrences found (all of them, once done).
    std::size_t count() const { return m_positions.size(); }
    // Takes back the replacements made so far, as one undo.
    void Revert();

private:
    void Search(std::chrono::steady_clock::time_point until);
    void Replace(std::chrono::steady_clock::time_point until);

    QPointer<QTextDocument> m_document;
    QString m_with;
    qsizetype m_length;        // of the string found
    qsizetype m_textLength;    // of the text when the search began
    std::unique_ptr<ForwardSearch> m_search; // null once every occurrence is known
    qsizetype m_searchedTo = 0; // occurrences that start before this are known
    std::vector<qsizetype> m_positions;
    std::size_t m_replaced = 0; // from the last position back
};

} // namespace tavro
