#include "stepped_search.h"

#include <QElapsedTimer>
#include <QTextDocument>

#include <algorithm>

namespace tavro {

namespace {

// The pace of the searches started next.
SteppedSearch::Pace g_pace = SteppedSearch::DefaultPace();

constexpr qsizetype kLeastSlice = 256;

qsizetype TextLength(const QTextDocument& document)
{
    return document.characterCount() - 1; // the document counts a break after the last block
}

} // namespace

SteppedSearch::Pace SteppedSearch::DefaultPace()
{
    // A slice of a million characters reads in about 10 ms: a first while
    // finds what lies some millions of characters from the caret at once,
    // and a turn reads for about a frame's time, so the window still paints
    // and takes keys every frame or two.
    using std::chrono::milliseconds;
    return {milliseconds(40), milliseconds(16), qsizetype{1} << 20};
}

void SteppedSearch::SetPace(Pace pace)
{
    pace.slice = std::max(pace.slice, kLeastSlice);
    g_pace = pace;
}

SteppedSearch::SteppedSearch(QTextDocument& document, const QString& find, std::vector<Leg> legs, QObject* parent)
    : QObject(parent), m_document(&document), m_find(find), m_legs(std::move(legs)), m_pace(g_pace)
{
    // At least twice the string: a backward slice must move on.
    m_pace.slice = std::max(m_pace.slice, 2 * m_find.size());
    m_turn.setSingleShot(true);
    m_turn.setInterval(0);
    connect(&m_turn, &QTimer::timeout, this, [this] { RunFor(m_pace.turn, 0); });
    // Positions found in a text that changed would be wrong ones.
    connect(&document, &QTextDocument::contentsChanged, this, &SteppedSearch::Stop);
    connect(&document, &QObject::destroyed, this, &SteppedSearch::Stop);
}

SteppedSearch::~SteppedSearch() = default;

void SteppedSearch::Start(Done done)
{
    if (m_searching || m_started || !m_document)
        return;
    m_started = true;
    m_done = std::move(done);
    m_searching = true;
    m_leg = 0;
    m_inLeg = false;
    // A slice a leg at least, however slow the machine: a text shorter than
    // a slice is searched before Start() returns.
    RunFor(m_pace.first, m_pace.slice * static_cast<qsizetype>(m_legs.size()));
}

void SteppedSearch::RunFor(std::chrono::milliseconds budget, qsizetype least)
{
    if (!m_searching)
        return;
    QElapsedTimer clock;
    clock.start();
    const qsizetype spannedBefore = m_spanned;
    do {
        if (Step())
            return; // the callback may have deleted this search
    } while (std::chrono::nanoseconds(clock.nsecsElapsed()) < budget || m_spanned - spannedBefore < least);
    m_turn.start();
}

void SteppedSearch::NextLeg()
{
    ++m_leg;
    m_inLeg = false;
    m_forward.reset();
}

void SteppedSearch::Stop()
{
    m_searching = false;
    m_turn.stop();
    m_forward.reset();
    m_done = nullptr;
}

bool SteppedSearch::Step()
{
    if (!m_document) {
        Stop();
        return true;
    }
    qsizetype found = -1;
    if (m_leg < m_legs.size()) {
        const Leg& leg = m_legs[m_leg];
        const QTextDocument& document = *m_document;
        const qsizetype length = TextLength(document);
        const qsizetype slice = m_pace.slice;
        if (leg.forward) {
            if (!m_inLeg) {
                m_inLeg = true;
                m_at = std::max<qsizetype>(leg.from, 0);
                if (m_at > leg.to || m_at > length) {
                    NextLeg();
                    return false;
                }
                m_forward = std::make_unique<ForwardSearch>(document, m_find, m_at, Qt::CaseSensitive);
            }
            // The search keeps what it has read; each slice reads on.
            const qsizetype last = std::min(leg.to, m_at + slice - 1);
            m_spanned += std::min(last, length) - m_at + 1;
            found = m_forward->Next(last);
            if (found < 0) {
                if (last >= leg.to || last >= length)
                    NextLeg();
                else
                    m_at = last + 1;
                return false;
            }
        } else {
            const qsizetype first = std::max<qsizetype>(leg.to, 0);
            if (!m_inLeg) {
                m_inLeg = true;
                m_at = std::min(leg.from, length);
            }
            // The matches that start at or after lowest; the next slice has
            // the ones that start before, so end before lowest + the length.
            const qsizetype lowest = std::max(first, m_at - slice);
            m_spanned += std::max<qsizetype>(m_at - lowest, 1);
            found = FindBackward(document, m_find, m_at, lowest, Qt::CaseSensitive);
            if (found < 0) {
                if (lowest <= first)
                    NextLeg();
                else
                    m_at = lowest + m_find.size() - 1;
                return false;
            }
        }
    }
    // Found, or every leg searched.
    Done done = std::move(m_done);
    Stop();
    done(found);
    return true;
}

} // namespace tavro
