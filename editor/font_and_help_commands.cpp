// The Font command and the Help menu.
#include "main_window.h"

namespace tavro {

void CTavroTextEditorDlg::OnSettingsFont() {}

void CTavroTextEditorDlg::OnHelpUsageNotes() {}

void CTavroTextEditorDlg::OnHelpStatement() {}

void CTavroTextEditorDlg::OnHelpAbout() {}

} // namespace tavro
