// The lock and the auto-save timer.
//
// Invariants after every command: m_bLocked == both editors read-only ==
// lock marker in the caption; timer running == m_bAutoSave.
#include "command_scope.h"

#include <QTextDocument>

namespace tavro {

void CTavroTextEditorDlg::OnLock()
{
    CommandScope command(*this);
    WaitForSave(); // the lock state a lossy question restores is the one from before this Lock
    // The garbled-document question comes first: going back leaves the text
    // unlocked and unwritten. The lossy question comes once the worker has
    // encoded the text; going back from it restores the lock it had.
    if (m_bDocumentOpen && !ConfirmWrite(WriteOrigin::Save))
        return;
    m_bSaveWasLocked = m_bLocked;
    LockEditors();
    StartWrite(WriteOrigin::Lock); // locking always writes, whatever the save's outcome
}

void CTavroTextEditorDlg::OnToggleAutoSave()
{
    m_bAutoSave = !m_bAutoSave;
    if (m_bAutoSave)
        SetTimer(kAutoSaveTimerId, kAutoSavePeriodMs); // counts from now
    else
        KillTimer(kAutoSaveTimerId);
    RefreshMenuStates();
    RefreshStatusBar();
}

void CTavroTextEditorDlg::OnUpdateAutoSave(CCmdUI* cmdUI)
{
    cmdUI->SetCheck(m_bAutoSave);
}

void CTavroTextEditorDlg::OnTimer(int id)
{
    // Tested at the moment of the tick. A tick that arrives while a command
    // waits for the user, or while the previous tick's failure message is
    // open, does nothing.
    // A text that has not changed since it was written or read is not
    // written again; nor is one that would need a question first.
    // A write still in flight is left alone: the next tick writes what it missed.
    if (id != kAutoSaveTimerId || !m_bDocumentOpen || m_bLocked || m_commandDepth > 0 ||
        m_bAutoSaving || m_saveJob || !isModified())
        return;
    const QTextDocument* document = activeEditor()->document();
    if (document == m_lossySkippedDocument && document->revision() == m_lossySkippedRevision &&
        !LossyTextAccepted())
        return; // found lossy by an earlier tick, not accepted since
    m_bAutoSaving = true;
    StartWrite(WriteOrigin::AutoSave);
    m_bAutoSaving = false;
}

void CTavroTextEditorDlg::SetTimer(int id, int periodMs)
{
    if (id == kAutoSaveTimerId)
        m_autoSaveTimer.start(periodMs);
}

void CTavroTextEditorDlg::KillTimer(int id)
{
    if (id == kAutoSaveTimerId)
        m_autoSaveTimer.stop();
}

} // namespace tavro
