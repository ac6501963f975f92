// Names states of a QTextDocument's text, so that "the file holds what the
// editor shows" can be asked about a state captured earlier, whatever edits,
// undos and redos came in between.
//
// A state is a position in the document's undo history together with a
// serial number that this tracker gives each state when it comes into being:
//
//   undo index   0     1     2     3          (availableUndoSteps())
//   serial       s0    s1    s2    s3
//
// Undo and redo move along the row and leave the serials alone. An edit
// either appends a command (the state after it is new) or merges into the
// last one (the current state changes in place): both give the current
// index a new serial and drop the states ahead of it. A state captured
// earlier is current again exactly when the history is back at its index
// with the same serial, i.e. when the text is that text again by undo or redo.
//
// Capture() marks the document unmodified, which is how QTextDocument is told
// not to merge the next edit into the command that led to this state: the
// captured state then stays reachable by undo. The document's own modified
// flag means nothing else here; ask IsCurrent() instead.
#pragma once

#include <QObject>

#include <cstdint>
#include <vector>

class QTextDocument;

namespace tavro {

// One state of the text; the default-made state is never current.
struct TextState {
    int index = -1;
    std::uint64_t serial = 0;
    bool operator==(const TextState&) const = default;
};

class TextStateTracker : public QObject {
    Q_OBJECT
public:
    // Follows document from now on; its present text is the first state.
    explicit TextStateTracker(QTextDocument* document, QObject* parent = nullptr);

    // The state the text is in now, kept reachable by undo.
    TextState Capture();
    // Whether the text is in state now.
    bool IsCurrent(const TextState& state) const;

signals:
    // The text changed (an edit, an undo or a redo).
    void changed();

private:
    void OnContentsChanged();
    // The state at index is new; the ones ahead of it are gone.
    void Renumber(int index);

    QTextDocument* m_document;
    std::vector<std::uint64_t> m_serials; // per undo index, as far as redo reaches
    std::uint64_t m_nextSerial = 1;
    int m_undo = 0; // undo steps when last seen
    bool m_appended = false; // a command was added since the last change
};

} // namespace tavro
