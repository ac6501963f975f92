// A search of the editor's text that may read far without stalling the
// window. The text is read where it is (document_search.h), so on the UI
// thread, a slice at a time: Start() reads for a first short while, and a
// slice a leg at least (a match near the caret, or all of a text shorter
// than a slice, is found before it returns),
// then the search goes on between turns of the event loop, a shorter while
// each, so the window paints and takes keys while it reads.
//
// A search is a list of legs tried in order, each a range searched one way;
// the first leg with a match gives the result, the very position one call of
// FindForward or FindBackward over that leg gives (an exact, case-sensitive
// search). The result comes once, through the callback. A search stops
// without one when it is destroyed (which is how its owner cancels it), when
// the text changes and when the document goes.
#pragma once

#include "document_search.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTextDocument;

namespace tavro {

class SteppedSearch : public QObject {
    Q_OBJECT
public:
    // One range of the text, searched one way.
    struct Leg {
        bool forward;
        qsizetype from; // forward: the first start allowed; backward: the latest end allowed
        qsizetype to;   // forward: the last start allowed; backward: the earliest start allowed
    };
    // The first occurrence that starts in [from, last] (as FindForward).
    static Leg Forward(qsizetype from, qsizetype last) { return {true, from, last}; }
    // The last occurrence that ends at or before end and starts at or after first (as FindBackward).
    static Leg Backward(qsizetype end, qsizetype first) { return {false, end, first}; }

    // How long the UI thread reads at a time.
    struct Pace {
        std::chrono::milliseconds first; // in Start()
        std::chrono::milliseconds turn;  // in each turn of the event loop after it
        qsizetype slice;                 // characters read between looks at the clock (at least 256)
    };
    static Pace DefaultPace();
    // The pace of searches started from now on (tests slow it down).
    static void SetPace(Pace pace);

    // position: where the match starts, -1 when there is none.
    using Done = std::function<void(qsizetype position)>;

    SteppedSearch(QTextDocument& document, const QString& find, std::vector<Leg> legs,
                  QObject* parent = nullptr);
    ~SteppedSearch() override;

    // Reads for the first while; done may get the result before this
    // returns, and may delete the search (deleteLater). Once only.
    void Start(Done done);
    // Started and neither finished nor stopped.
    bool isSearching() const { return m_searching; }

private:
    // Reads for the while given and at least least characters, then comes
    // back from the event loop.
    void RunFor(std::chrono::milliseconds budget, qsizetype least);
    // One slice of the current leg; true when the search has ended.
    bool Step();
    void NextLeg();
    void Stop();

    QPointer<QTextDocument> m_document;
    QString m_find;
    std::vector<Leg> m_legs;
    Done m_done;
    Pace m_pace;
    std::size_t m_leg = 0;
    bool m_inLeg = false; // m_at (and for a forward leg m_forward) set for m_leg
    qsizetype m_at = 0; // forward: the next start to try; backward: the latest end still to try
    qsizetype m_spanned = 0; // characters of the text the slices so far covered
    std::unique_ptr<ForwardSearch> m_forward;
    QTimer m_turn;
    bool m_started = false;
    bool m_searching = false;
};

} // namespace tavro
