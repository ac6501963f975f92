// The Font command and the Help menu. Each dialog lives for one modal run;
// the window is its owner, so it opens over the window.
#include "main_window.h"

#include "about_dlg.h"
#include "imp_dlg.h"
#include "program_state.h"
#include "prompts.h"
#include "set_font_dialog.h"
#include "statement.h"

namespace tavro {

void CTavroTextEditorDlg::OnSettingsFont()
{
    SETFONTDialog dialog(m_prompts, this);
    g_bFontAccepted = false;
    m_prompts.RunModal(dialog);
    // Both editors, all their text, which stays selected. "config" takes the
    // format when the window closes.
    if (g_bFontAccepted) {
        ApplyEditorFormat();
        FocusActiveEditor();
    }
}

void CTavroTextEditorDlg::OnHelpUsageNotes()
{
    ImpDlg dialog(this);
    m_prompts.RunModal(dialog);
}

void CTavroTextEditorDlg::OnHelpStatement()
{
    Statement dialog(this);
    m_prompts.RunModal(dialog);
}

void CTavroTextEditorDlg::OnHelpAbout()
{
    AboutDlg dialog(this);
    m_prompts.RunModal(dialog);
}

} // namespace tavro
