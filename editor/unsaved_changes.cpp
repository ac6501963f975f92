// Unsaved changes: the editor document's own modification state says
// whether the text differs from what was last written or read. Commands
// that would drop the text ask first, with Save, Discard and Cancel.
#include "command_scope.h"
#include "prompts.h"

#include <QTextDocument>

namespace tavro {

bool CTavroTextEditorDlg::isModified() const
{
    return m_bDocumentOpen && activeEditor()->document()->isModified();
}

void CTavroTextEditorDlg::MarkSaved()
{
    m_editNoWrap->document()->setModified(false);
    m_editWrap->document()->setModified(false);
}

bool CTavroTextEditorDlg::AskToSaveChanges()
{
    switch (m_prompts.ShowMessage(this, QStringLiteral("是否关闭当前文档?\n(请注意保存)"),
                                  QStringLiteral("重要提示"), MessageIcon::None,
                                  MessageButtons::SaveDiscardCancel)) {
    case MessageAnswer::Save: return WriteDocument(WriteOrigin::Save); // on only once it is stored
    case MessageAnswer::Discard: return true;
    default: return false;
    }
}

bool CTavroTextEditorDlg::ConfirmQuit()
{
    CommandScope command(*this);
    WaitForSave(); // a write in flight ends before the window may close
    return !isModified() || AskToSaveChanges();
}

} // namespace tavro
