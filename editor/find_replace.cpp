// Find and replace: exact, case-sensitive search of the active editor's
// text, wrapping around its ends without asking.
#include "find_replace_dialog.h"
#include "main_window.h"
#include "prompts.h"

namespace tavro {

void CTavroTextEditorDlg::OnEditFind() { OpenFindDialog(true); }

void CTavroTextEditorDlg::OnEditReplace() { OpenFindDialog(false); }

void CTavroTextEditorDlg::OpenFindDialog(bool findOnly)
{
    if (m_bFindDialogOpen)
        return; // one dialog at a time; the open one is left as it is
    m_bFindDialogOpen = true;
    m_bFindOnly = findOnly;
    auto* dialog = new FindReplaceDialog(
        findOnly,
        FindReplaceDialog::FR_DOWN | FindReplaceDialog::FR_HIDEMATCHCASE |
            FindReplaceDialog::FR_HIDEWHOLEWORD,
        this);
    connect(dialog, &FindReplaceDialog::notify, this, &CTavroTextEditorDlg::OnFindReplace);
    m_findDialog = dialog;
    dialog->show();
    dialog->activateWindow();
}

void CTavroTextEditorDlg::OnFindReplace(FindReplaceDialog* dialog)
{
    if (!dialog)
        return;
    const std::uint32_t flags = dialog->flags();
    if (flags & FindReplaceDialog::FR_DIALOGTERM) {
        dialog->deleteLater();
        m_bFindDialogOpen = false;
        return;
    }
    const QString find = dialog->GetFindString();
    // Line breaks are one character each, so indices are editor positions.
    const QString text = activeEditor()->GetWindowText();
    if (m_bFindOnly) {
        if (flags & FindReplaceDialog::FR_DOWN)
            SearchDown(text, find, false);
        else
            SearchUp(text, find);
        return;
    }
    if (flags & FindReplaceDialog::FR_FINDNEXT)
        SearchDown(text, find, true); // the Replace dialog always searches down
    if (flags & FindReplaceDialog::FR_REPLACE) {
        if (!ReplaceSelection(dialog, text, find))
            return;
    }
    if (flags & FindReplaceDialog::FR_REPLACEALL)
        ReplaceAll(dialog, text, find);
}

void CTavroTextEditorDlg::ReportNotFound(const QString& find)
{
    m_prompts.Tell(m_findDialog ? static_cast<QWidget*>(m_findDialog.data()) : this,
                   QStringLiteral("找不到 ") + find, QStringLiteral("结果"),
                   MessageIcon::Information);
}

void CTavroTextEditorDlg::SelectMatch(qsizetype pos, qsizetype length)
{
    activeEditor()->SetSel(pos, pos + length);
    FocusActiveEditor();
}

void CTavroTextEditorDlg::SearchDown(const QString& text, const QString& find,
                                     bool clearSelectionIfMissing)
{
    CRichEditCtrl* editor = activeEditor();
    qsizetype selStart = 0;
    qsizetype selEnd = 0;
    editor->GetSel(selStart, selEnd);
    // From the end of the selection, so a selected match is skipped; then,
    // wrapping to the top, from the start.
    qsizetype pos = selEnd <= text.size() ? text.indexOf(find, selEnd) : -1;
    if (pos < 0)
        pos = text.indexOf(find);
    if (pos >= 0) {
        SelectMatch(pos, find.size());
        return;
    }
    ReportNotFound(find);
    if (clearSelectionIfMissing) {
        editor->SetSel(-1, find.size() - 1); // no selection; the caret stays
        FocusActiveEditor();
    }
}

void CTavroTextEditorDlg::SearchUp(const QString& text, const QString& find)
{
    qsizetype selStart = 0;
    qsizetype selEnd = 0;
    activeEditor()->GetSel(selStart, selEnd);
    // The last occurrence that ends at or before the selection start, else
    // (wrapping to the bottom) the last one in the text.
    const qsizetype lastStart = selStart - find.size();
    qsizetype pos = lastStart >= 0 ? text.lastIndexOf(find, lastStart) : -1;
    if (pos < 0)
        pos = text.lastIndexOf(find);
    if (pos >= 0)
        SelectMatch(pos, find.size());
    else
        ReportNotFound(find);
}

bool CTavroTextEditorDlg::ReplaceSelection(FindReplaceDialog* dialog, const QString& text,
                                           const QString& find)
{
    if (m_bLocked)
        return true; // the locked text is never changed
    if (!text.contains(find)) {
        ReportNotFound(find);
        return true;
    }
    CRichEditCtrl* editor = activeEditor();
    qsizetype selStart = 0;
    qsizetype selEnd = 0;
    editor->GetSel(selStart, selEnd);
    // Only a selection that is exactly the find string is replaced: the
    // user finds first, then replaces.
    if (QStringView(text).mid(selStart, selEnd - selStart) != find) {
        m_prompts.Tell(dialog, QStringLiteral("请继续搜索后进行替换."), QStringLiteral("提示"));
        return false;
    }
    editor->ReplaceRange(selStart, selEnd, dialog->GetReplaceString());
    ApplyEditorFormat();
    FocusActiveEditor();
    return true;
}

void CTavroTextEditorDlg::ReplaceAll(FindReplaceDialog* dialog, const QString& text,
                                     const QString& find)
{
    if (m_bLocked)
        return;
    // Non-overlapping, left to right; replaced text is not searched again.
    std::vector<qsizetype> positions;
    if (!find.isEmpty()) {
        for (qsizetype pos = text.indexOf(find); pos >= 0; pos = text.indexOf(find, pos + find.size()))
            positions.push_back(pos);
    }
    if (!positions.empty())
        activeEditor()->ReplaceRanges(positions, find.size(), dialog->GetReplaceString());
    ApplyEditorFormat();
    m_prompts.Tell(dialog, QStringLiteral("已经完成所有替换,共替换%1处.").arg(positions.size()),
                   QStringLiteral("完成"));
    FocusActiveEditor();
}

} // namespace tavro
