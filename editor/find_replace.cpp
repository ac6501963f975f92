// Find and replace: exact, case-sensitive search of the active editor's
// text, wrapping around its ends without asking.
#include "document_search.h"
#include "find_replace_dialog.h"
#include "main_window.h"
#include "prompts.h"

#include <QTextDocument>

namespace tavro {

void MainWindow::OnEditFind() { OpenFindDialog(true); }

void MainWindow::OnEditReplace() { OpenFindDialog(false); }

void MainWindow::OpenFindDialog(bool findOnly)
{
    if (m_findDialog)
        return; // one dialog at a time; the open one is left as it is
    m_findOnly = findOnly;
    auto* dialog = new FindReplaceDialog(
        findOnly,
        FindReplaceDialog::FR_DOWN | FindReplaceDialog::FR_HIDEMATCHCASE |
            FindReplaceDialog::FR_HIDEWHOLEWORD,
        this);
    connect(dialog, &FindReplaceDialog::notify, this, &MainWindow::OnFindReplace);
    m_findDialog = dialog;
    dialog->show();
    dialog->activateWindow();
}

void MainWindow::OnFindReplace(FindReplaceDialog* dialog)
{
    if (!dialog)
        return;
    const std::uint32_t flags = dialog->flags();
    if (flags & FindReplaceDialog::FR_DIALOGTERM) {
        dialog->deleteLater();
        m_findDialog.clear();
        return;
    }
    const QString find = dialog->GetFindString();
    // The text is searched where it is, in the editor's character positions
    // (a line break is one character), outward from the selection.
    if (m_findOnly) {
        if (flags & FindReplaceDialog::FR_DOWN)
            SearchDown(find, false);
        else
            SearchUp(find);
        return;
    }
    if (flags & FindReplaceDialog::FR_FINDNEXT)
        SearchDown(find, true); // the Replace dialog always searches down
    if (flags & FindReplaceDialog::FR_REPLACE) {
        if (!ReplaceSelection(dialog, find))
            return;
    }
    if (flags & FindReplaceDialog::FR_REPLACEALL)
        ReplaceAll(dialog, find);
}

void MainWindow::ReportNotFound(const QString& find)
{
    m_prompts.Tell(m_findDialog ? static_cast<QWidget*>(m_findDialog.data()) : this,
                   QStringLiteral("找不到 ") + find, QStringLiteral("结果"),
                   MessageIcon::Information);
}

void MainWindow::SelectMatch(qsizetype pos, qsizetype length)
{
    m_editor->select(pos, pos + length);
    FocusEditor();
}

qsizetype MainWindow::FindDownFrom(const QString& find, qsizetype from) const
{
    const QTextDocument& document = *m_editor->document();
    // From the position on, then, wrapping to the top, the first occurrence
    // of all: one that starts before the position, as none starts after it.
    const qsizetype pos = FindForward(document, find, from, kNoLimit, Qt::CaseSensitive);
    return pos >= 0 ? pos : FindForward(document, find, 0, from - 1, Qt::CaseSensitive);
}

void MainWindow::SearchDown(const QString& find, bool clearSelectionIfMissing)
{
    TextEditor* editor = m_editor;
    const qsizetype selEnd = editor->selection().second;
    // From the end of the selection, so a selected match is skipped.
    const qsizetype pos = FindDownFrom(find, selEnd);
    if (pos >= 0) {
        SelectMatch(pos, find.size());
        return;
    }
    ReportNotFound(find);
    if (clearSelectionIfMissing) {
        editor->select(-1, find.size() - 1); // no selection; the caret stays
        FocusEditor();
    }
}

void MainWindow::SearchUp(const QString& find)
{
    TextEditor* editor = m_editor;
    const QTextDocument& document = *editor->document();
    const auto selStart = editor->selection().first;
    // The last occurrence that ends at or before the selection start, else
    // (wrapping to the bottom) the last one in the text, which then ends
    // after the selection start.
    qsizetype pos = FindBackward(document, find, selStart, 0, Qt::CaseSensitive);
    if (pos < 0)
        pos = FindBackward(document, find, editor->textLength(), selStart - find.size() + 1,
                           Qt::CaseSensitive);
    if (pos >= 0)
        SelectMatch(pos, find.size());
    else
        ReportNotFound(find);
}

bool MainWindow::ReplaceSelection(FindReplaceDialog* dialog, const QString& find)
{
    if (isLocked())
        return true; // the locked text is never changed
    TextEditor* editor = m_editor;
    const auto [selStart, selEnd] = editor->selection();
    // Only a selection that is exactly the find string is replaced: the
    // user finds first, then replaces. Only the selection is read.
    const bool selected = selEnd - selStart == find.size() &&
                          TextRange(*editor->document(), selStart, selEnd) == find;
    if (!selected) {
        if (FindDownFrom(find, selEnd) < 0) {
            ReportNotFound(find);
            return true;
        }
        m_prompts.Tell(dialog, QStringLiteral("请继续搜索后进行替换."), QStringLiteral("提示"));
        return false;
    }
    // The caret after the replacement, nothing selected, the view where it was.
    const QString replacement = dialog->GetReplaceString();
    editor->replaceRange(selStart, selEnd, replacement);
    editor->select(selStart + replacement.size(), selStart + replacement.size());
    FocusEditor();
    return true;
}

void MainWindow::ReplaceAll(FindReplaceDialog* dialog, const QString& find)
{
    if (isLocked())
        return;
    // Non-overlapping, left to right; replaced text is not searched again.
    const std::vector<qsizetype> positions =
        FindAll(*m_editor->document(), find, Qt::CaseSensitive);
    if (!positions.empty())
        m_editor->replaceRanges(positions, find.size(), dialog->GetReplaceString());
    m_prompts.Tell(dialog, QStringLiteral("已经完成所有替换,共替换%1处.").arg(positions.size()),
                   QStringLiteral("完成"));
    FocusEditor();
}

} // namespace tavro
