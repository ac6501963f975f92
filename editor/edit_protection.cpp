// The lock and the auto-save timer.
//
// Invariants after every command: m_bLocked == both editors read-only ==
// lock marker in the caption; timer running == m_bAutoSave.
#include "command_scope.h"

namespace tavro {

void CTavroTextEditorDlg::OnLock()
{
    CommandScope command(*this);
    LockEditors();
    OnFileSave(); // locking always writes, whatever the save's outcome
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
    if (id != kAutoSaveTimerId || !m_bDocumentOpen || m_bLocked || m_commandDepth > 0 ||
        m_bAutoSaving)
        return;
    m_bAutoSaving = true;
    OnFileSave();
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
