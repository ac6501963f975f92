// The Edit menu and the window's own key handling.
#include "main_window.h"
#include "menus.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

namespace tavro {

CRichEditCtrl* CTavroTextEditorDlg::FocusActiveEditor()
{
    // The keys belong to the editor after every command that changes what
    // the user works on, not to a dialog that was last active nor to the
    // menu bar. With no document open the editors are disabled and take no
    // keystroke: the window itself keeps the focus then.
    activateWindow();
    CRichEditCtrl* editor = activeEditor();
    if (!editor->isEnabled()) {
        centralWidget()->setFocus(Qt::OtherFocusReason);
        return nullptr;
    }
    editor->setFocus(Qt::OtherFocusReason);
    return editor;
}

void CTavroTextEditorDlg::OnEditUndo()
{
    if (CRichEditCtrl* editor = FocusActiveEditor(); editor && !editor->isReadOnly())
        editor->undo();
}

void CTavroTextEditorDlg::OnEditCut()
{
    if (CRichEditCtrl* editor = FocusActiveEditor(); editor && !editor->isReadOnly())
        editor->cut();
}

void CTavroTextEditorDlg::OnEditCopy()
{
    if (CRichEditCtrl* editor = FocusActiveEditor())
        editor->copy();
}

void CTavroTextEditorDlg::OnEditSelectAll()
{
    if (CRichEditCtrl* editor = FocusActiveEditor())
        editor->selectAll();
}

void CTavroTextEditorDlg::OnEditDelete()
{
    // The Delete key, for whichever of our editors has the focus.
    QWidget* focus = QApplication::focusWidget();
    if (focus != m_editNoWrap && focus != m_editWrap)
        return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(focus, &press);
    QCoreApplication::sendEvent(focus, &release);
}

void CTavroTextEditorDlg::OnEditPaste()
{
    // Plain text only, whatever the clipboard holds; refused while read-only
    // and while no document is open.
    CRichEditCtrl* editor = activeEditor();
    if (editor->isEnabled())
        editor->PastePlainText();
}

bool CTavroTextEditorDlg::PreTranslateMessage(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Escape)
        return true; // Escape never closes the window

    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    for (const AcceleratorDef& accelerator : MainAccelerators()) {
        if (accelerator.keys.key() != key || accelerator.keys.keyboardModifiers() != modifiers)
            continue;
        // As from the menu: the item's state is brought up to date first,
        // and a greyed item's accelerator does nothing.
        QAction* action = commandAction(accelerator.command);
        if (auto* popup = action ? qobject_cast<QMenu*>(action->parent()) : nullptr)
            OnInitMenuPopup(popup);
        if (action && action->isEnabled())
            OnCommand(accelerator.command);
        return true;
    }

    // Shift+F10, like the Menu key: the context menu at the caret.
    if (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier && event->type() == QEvent::KeyPress) {
        OnEditorMsgFilter(CaretMenuPosition());
        return true;
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        InsertTab();
        return true;
    }
    if (key == Qt::Key_V && (modifiers & Qt::ControlModifier)) {
        OnEditPaste();
        return true;
    }
    return false;
}

void CTavroTextEditorDlg::InsertTab()
{
    // One tab in front of the selection, which stays selected one further
    // on; refused while locked and while no document is open. The edit is
    // made in place, so the undo history keeps it.
    if (!m_bDocumentOpen || m_bLocked)
        return;
    CRichEditCtrl* editor = activeEditor();
    qsizetype start = 0;
    qsizetype end = 0;
    editor->GetSel(start, end);
    editor->ReplaceRange(start, start, QStringLiteral("\t"));
    ApplyEditorFormat();
    editor->SetSel(start + 1, end + 1);
}

} // namespace tavro
