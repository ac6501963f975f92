// The lock and the auto-save switch. The lock is the session's (it decides
// whether auto-save writes); the window shows it as the caption's marker
// and a read-only editor.
#include "main_window.h"

namespace tavro {

void MainWindow::OnLock()
{
    if (!m_session)
        return;
    // The stored-copy question comes first: going back leaves the text
    // unlocked and unwritten. Locking always writes, whatever the write's
    // outcome; going back from the lossy question restores the lock it had.
    SaveDocument(WriteOrigin::Lock);
}

void MainWindow::OnToggleAutoSave()
{
    m_autoSave.setEnabled(!m_autoSave.isEnabled()); // counts from now
}

void MainWindow::OnTimer()
{
    m_autoSave.Tick();
}

} // namespace tavro
