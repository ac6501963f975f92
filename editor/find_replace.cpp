// Find and replace: exact, case-sensitive search of the active editor's
// text, wrapping around its ends without asking. A search that reads far
// goes on between turns of the event loop (stepped_search.h); a new request
// or closing the dialog ends it.
#include "document_search.h"
#include "find_replace_dialog.h"
#include "long_work.h"
#include "main_window.h"
#include "prompts.h"
#include "sliced_replace_all.h"
#include "stepped_search.h"

#include <QPointer>
#include <QScrollBar>
#include <QTextDocument>

namespace tavro {

namespace {

// Ends the search owner holds, if any.
void CancelSearch(QObject& owner)
{
    for (SteppedSearch* search : owner.findChildren<SteppedSearch*>(Qt::FindDirectChildrenOnly))
        delete search;
}

// From the position on, then, wrapping to the top, the first occurrence of
// all: one that starts before the position, as none starts after it.
std::vector<SteppedSearch::Leg> DownFrom(qsizetype from)
{
    return {SteppedSearch::Forward(from, kNoLimit), SteppedSearch::Forward(0, from - 1)};
}

} // namespace

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
    // A new request, closing included, ends the search under way.
    CancelSearch(*dialog);
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
    } else if (flags & FindReplaceDialog::FR_FINDNEXT) {
        SearchDown(find, true); // the Replace dialog always searches down
    } else if (flags & FindReplaceDialog::FR_REPLACE) {
        ReplaceSelection(dialog, find);
    } else if (flags & FindReplaceDialog::FR_REPLACEALL) {
        ReplaceAll(dialog, find);
    }
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

void MainWindow::Search(const QString& find, std::vector<SteppedSearch::Leg> legs,
                        std::function<void(qsizetype)> then)
{
    // The search belongs to the dialog: closing it ends the search.
    QObject* owner = m_findDialog ? static_cast<QObject*>(m_findDialog.data()) : this;
    CancelSearch(*owner);
    QTextDocument* document = m_editor->document();
    auto* search = new SteppedSearch(*document, find, std::move(legs), owner);
    search->Start([this, search, shown = QPointer<QTextDocument>(document), then = std::move(then)](qsizetype pos) {
        search->deleteLater();
        // A position in a document the editor no longer shows means nothing.
        if (m_editor->document() == shown)
            then(pos);
    });
}

void MainWindow::SearchDown(const QString& find, bool clearSelectionIfMissing)
{
    // From the end of the selection, so a selected match is skipped.
    Search(find, DownFrom(m_editor->selection().second), [this, find, clearSelectionIfMissing](qsizetype pos) {
        if (pos >= 0) {
            SelectMatch(pos, find.size());
            return;
        }
        ReportNotFound(find);
        if (clearSelectionIfMissing) {
            m_editor->select(-1, find.size() - 1); // no selection; the caret stays
            FocusEditor();
        }
    });
}

void MainWindow::SearchUp(const QString& find)
{
    const qsizetype selStart = m_editor->selection().first;
    // The last occurrence that ends at or before the selection start, else
    // (wrapping to the bottom) the last one in the text, which then ends
    // after the selection start.
    Search(find,
           {SteppedSearch::Backward(selStart, 0),
            SteppedSearch::Backward(m_editor->textLength(), selStart - find.size() + 1)},
           [this, find](qsizetype pos) {
               if (pos >= 0)
                   SelectMatch(pos, find.size());
               else
                   ReportNotFound(find);
           });
}

void MainWindow::ReplaceSelection(FindReplaceDialog* dialog, const QString& find)
{
    if (isLocked())
        return; // the locked text is never changed
    TextEditor* editor = m_editor;
    const auto [selStart, selEnd] = editor->selection();
    // Only a selection that is exactly the find string is replaced: the
    // user finds first, then replaces. Only the selection is read.
    const bool selected = selEnd - selStart == find.size() &&
                          TextRange(*editor->document(), selStart, selEnd) == find;
    if (!selected) {
        Search(find, DownFrom(selEnd), [this, dialog, find](qsizetype pos) {
            if (pos < 0)
                ReportNotFound(find);
            else
                m_prompts.Tell(dialog, QStringLiteral("请继续搜索后进行替换."), QStringLiteral("提示"));
        });
        return;
    }
    // The caret after the replacement, nothing selected, the view where it was.
    const QString replacement = dialog->GetReplaceString();
    editor->replaceRange(selStart, selEnd, replacement);
    editor->select(selStart + replacement.size(), selStart + replacement.size());
    FocusEditor();
}

void MainWindow::ReplaceAll(FindReplaceDialog* dialog, const QString& find)
{
    if (isLocked() || m_replacingAll)
        return;
    // Non-overlapping, left to right; replaced text is not searched again.
    // A large text is searched and replaced in slices (long_work.h): 取消
    // takes back what was replaced, and the text is as it was.
    AutoSave::Hold hold(m_autoSave);
    m_replacingAll = true;
    const int horizontal = m_editor->horizontalScrollBar()->value();
    const int vertical = m_editor->verticalScrollBar()->value();
    SlicedReplaceAll replace(*m_editor->document(), find, dialog->GetReplaceString());
    LongWork work;
    work.title = QStringLiteral("全部替换");
    work.label = QStringLiteral("正在替换 %1 ...").arg(find);
    work.interval = std::chrono::milliseconds(0);
    work.turn = [&](std::chrono::milliseconds budget) { return replace.RunFor(budget); };
    work.progress = [&] { return replace.permille(); };
    const QPointer<FindReplaceDialog> asking(dialog); // the answer goes to it while it is there
    const bool done = RunLongWork(this, work);
    if (!done)
        replace.Revert();
    m_editor->horizontalScrollBar()->setValue(horizontal);
    m_editor->verticalScrollBar()->setValue(vertical);
    m_replacingAll = false;
    if (done)
        m_prompts.Tell(asking ? static_cast<QWidget*>(asking.data()) : this,
                       QStringLiteral("已经完成所有替换,共替换%1处.").arg(replace.count()),
                       QStringLiteral("完成"));
    FocusEditor();
}

} // namespace tavro
