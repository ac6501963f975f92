// The Font command and the Help menu. Each dialog lives for one modal run;
// the window is its owner, so it opens over the window.
#include "main_window.h"

#include "about_dialog.h"
#include "font_dialog.h"
#include "prompts.h"
#include "statement_dialog.h"
#include "usage_notes_dialog.h"

namespace tavro {

void MainWindow::OnSettingsFont()
{
    FontDialog dialog(m_charFormat, m_prompts, this);
    if (m_prompts.RunModal(dialog) != QDialog::Accepted)
        return;
    // All the text takes it, where it is; "config" keeps it when the window closes.
    m_charFormat = dialog.charFormat();
    ApplyEditorFormat();
    FocusEditor();
}

void MainWindow::OnHelpUsageNotes()
{
    UsageNotesDialog dialog(this);
    m_prompts.RunModal(dialog);
}

void MainWindow::OnHelpStatement()
{
    StatementDialog dialog(this);
    m_prompts.RunModal(dialog);
}

void MainWindow::OnHelpAbout()
{
    AboutDialog dialog(this);
    m_prompts.RunModal(dialog);
}

} // namespace tavro
