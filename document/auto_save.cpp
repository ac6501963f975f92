#include "auto_save.h"

#include "document_session.h"

namespace tavro {
namespace {

// Locked text is the user's to write; hidden text, locked by hiding, is
// still written, so a change made before it was hidden is not left unsaved.
bool Writable(const DocumentSession& session)
{
    return !session.isLocked() || session.isHidden();
}

} // namespace

AutoSave::AutoSave(QObject* parent) : QObject(parent)
{
    // Every 60000 ms, not within a coarse timer's 5 %.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &AutoSave::Tick);
    m_timer.start();
}

void AutoSave::setSession(DocumentSession* session)
{
    m_session = session;
    emit changed();
}

void AutoSave::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        m_timer.start(); // counts from now
    else
        m_timer.stop();
    emit changed();
}

AutoSave::Pause AutoSave::pause() const
{
    // Only where a tick would otherwise write: on, a document open and unlocked.
    if (!m_enabled || !m_session || !Writable(*m_session))
        return Pause::None;
    if (m_session->isProtected())
        return Pause::Protected;
    if (m_session->isKnownLossy())
        return Pause::LossyText;
    if (m_session->isChangedOnDisk())
        return Pause::ChangedOnDisk;
    if (m_session->isWriteFailing())
        return Pause::WriteFailing;
    return Pause::None;
}

void AutoSave::Tick()
{
    // Tested at the moment of the tick. A write still in flight is left
    // alone: the next tick writes what it missed. A text that has not
    // changed since it was written or read is not written again.
    if (m_holds > 0 || (m_session && m_session->isWriting()) || !WouldWrite())
        return;
    m_session->Save(WriteOrigin::AutoSave);
}

bool AutoSave::WouldWrite() const
{
    // Text that would need a question first waits for a command that asks.
    return m_enabled && m_session && Writable(*m_session) && m_session->isModified() && !m_session->isProtected() &&
           !m_session->isKnownLossy() && !m_session->isChangedOnDisk();
}

} // namespace tavro
