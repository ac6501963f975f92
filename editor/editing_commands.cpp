// The Edit menu and the window's own key handling.
#include "main_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

namespace tavro {

TextEditor* MainWindow::FocusEditor()
{
    // The keys belong to the editor after every command that changes what
    // the user works on, not to a dialog that was last active nor to the
    // menu bar. With no document open the editor is disabled and takes no
    // keystroke: the window itself keeps the focus then.
    activateWindow();
    TextEditor* editor = m_editor;
    if (!editor->isEnabled()) {
        centralWidget()->setFocus(Qt::OtherFocusReason);
        return nullptr;
    }
    editor->setFocus(Qt::OtherFocusReason);
    return editor;
}

void MainWindow::OnEditUndo()
{
    if (TextEditor* editor = FocusEditor(); editor && !editor->isReadOnly())
        editor->undo();
}

void MainWindow::OnEditCut()
{
    if (TextEditor* editor = FocusEditor(); editor && !editor->isReadOnly())
        editor->cut();
}

void MainWindow::OnEditCopy()
{
    if (TextEditor* editor = FocusEditor())
        editor->copy();
}

void MainWindow::OnEditSelectAll()
{
    if (TextEditor* editor = FocusEditor())
        editor->selectAll();
}

void MainWindow::OnEditDelete()
{
    // The Delete key, for whichever of our editors has the focus.
    QWidget* focus = QApplication::focusWidget();
    if (focus != m_editor)
        return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(focus, &press);
    QCoreApplication::sendEvent(focus, &release);
}

void MainWindow::OnEditPaste()
{
    // Plain text only, whatever the clipboard holds; refused while read-only
    // and while no document is open.
    if (m_editor->isEnabled())
        m_editor->pastePlainText();
}

bool MainWindow::PreTranslateMessage(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Escape)
        return true; // Escape never closes the window

    // The menu's shortcuts are the actions' own (see command_table.cpp);
    // these keys are the window's.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
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

void MainWindow::InsertTab()
{
    // One tab in front of the selection, which stays selected one further
    // on; refused while locked and while no document is open. The edit is
    // made in place, so the undo history keeps it.
    if (!isDocumentOpen() || isLocked())
        return;
    const auto [start, end] = m_editor->selection();
    m_editor->replaceRange(start, start, QStringLiteral("\t"));
    m_editor->select(start + 1, end + 1);
}

} // namespace tavro
