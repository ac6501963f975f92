#include "text_state.h"

#include <QTextDocument>

namespace tavro {

TextStateTracker::TextStateTracker(QTextDocument* document, QObject* parent)
    : QObject(parent), m_document(document)
{
    // Whatever history the document has so far counts as one state per step.
    m_undo = document->availableUndoSteps();
    for (int i = 0; i <= m_undo; ++i)
        m_serials.push_back(m_nextSerial++);
    // Qt adds a command before it reports the change the command made.
    connect(document, &QTextDocument::undoCommandAdded, this, [this] { m_appended = true; });
    connect(document, &QTextDocument::contentsChanged, this, &TextStateTracker::OnContentsChanged);
}

void TextStateTracker::Renumber(int index)
{
    m_serials.resize(static_cast<std::size_t>(index));
    m_serials.push_back(m_nextSerial++);
}

void TextStateTracker::OnContentsChanged()
{
    // An undo leaves something to redo; a redo or an undo only moves along
    // the history and adds no command. Anything else made the current state
    // anew (a command appended or merged into the last one, a text set
    // afresh, an edit with the history switched off), and the states ahead
    // of it are gone. (availableRedoSteps() does not count single commands,
    // so the history's length is not asked.)
    const int undo = m_document->availableUndoSteps();
    const bool undone = undo < m_undo && m_document->isRedoAvailable();
    const bool redone = undo > m_undo && static_cast<std::size_t>(undo) < m_serials.size();
    if (m_appended || !(undone || redone))
        Renumber(undo);
    m_appended = false;
    m_undo = undo;
    emit changed();
}

TextState TextStateTracker::Capture()
{
    m_document->setModified(false);
    return {m_undo, m_serials[static_cast<std::size_t>(m_undo)]};
}

bool TextStateTracker::IsCurrent(const TextState& state) const
{
    return state.index == m_undo && state.index >= 0 &&
           m_serials[static_cast<std::size_t>(state.index)] == state.serial;
}

} // namespace tavro
