// Which menu items are enabled or checked, recomputed from the window's
// flags whenever a popup opens, an accelerator is pressed, or a flag changes.
#include "main_window.h"
#include "menus.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

namespace tavro {
namespace {

using UpdateHandler = void (CTavroTextEditorDlg::*)(CCmdUI*);

UpdateHandler UpdateHandlerOf(int id)
{
    switch (id) {
    case ID_LOCK:
    case ID_UNLOCK:
    case ID_FILE_SAVE:
    case ID_FILE_SAVE_AS:
    case ID_FILE_EXPORT_TXT:
    case ID_EDIT_FIND:
    case ID_SETTINGS_PASSWORD:
    case ID_FILE_CLOSE_DOC:
        return &CTavroTextEditorDlg::OnUpdateDocumentCommand;
    case ID_EDIT_REPLACE:
        return &CTavroTextEditorDlg::OnUpdateReplace;
    case ID_WORD_WRAP:
        return &CTavroTextEditorDlg::OnUpdateWordWrap;
    case ID_AUTO_SAVE:
        return &CTavroTextEditorDlg::OnUpdateAutoSave;
    default:
        return nullptr; // always enabled
    }
}

} // namespace

void CTavroTextEditorDlg::OnInitMenuPopup(QMenu* popup)
{
    for (QAction* action : popup->actions()) {
        if (action->isSeparator() || action->menu())
            continue; // the menu bar has no nested popups
        if (const UpdateHandler handler = UpdateHandlerOf(action->data().toInt())) {
            CCmdUI cmdUI(action);
            (this->*handler)(&cmdUI);
        }
    }
}

void CTavroTextEditorDlg::RefreshMenuStates()
{
    for (QMenu* popup : m_menuPopups)
        OnInitMenuPopup(popup);
}

void CTavroTextEditorDlg::OnUpdateDocumentCommand(CCmdUI* cmdUI)
{
    cmdUI->Enable(m_bDocumentOpen);
}

void CTavroTextEditorDlg::OnUpdateReplace(CCmdUI* cmdUI)
{
    cmdUI->Enable(m_bDocumentOpen);
    if (m_bDocumentOpen)
        cmdUI->Enable(!m_bLocked);
}

void CTavroTextEditorDlg::OnUpdateWordWrap(CCmdUI* cmdUI)
{
    cmdUI->SetCheck(m_bWordWrap);
}

std::unique_ptr<QMenu> CTavroTextEditorDlg::LoadPopup(std::size_t index, QWidget* parent)
{
    const PopupDef& def = MainMenu()[index];
    auto popup = std::make_unique<QMenu>(QString::fromUtf16(def.label), parent);
    for (const MenuItemDef& item : def.items) {
        if (item.id == 0) {
            popup->addSeparator();
            continue;
        }
        QAction* action = popup->addAction(QString::fromUtf16(item.label));
        action->setData(item.id);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    QMenu* raw = popup.get();
    connect(raw, &QMenu::aboutToShow, this, [this, raw] { OnInitMenuPopup(raw); });
    return popup;
}

std::unique_ptr<QMenu> CTavroTextEditorDlg::LoadEditPopup()
{
    std::unique_ptr<QMenu> popup = LoadPopup(kEditPopupIndex, this);
    OnInitMenuPopup(popup.get());
    return popup;
}

void CTavroTextEditorDlg::OnEditorMsgFilter(const QPoint& globalPos)
{
    // The Edit popup, loaded afresh, at globalPos; a chosen item is carried
    // out as if it came from the menu bar.
    std::unique_ptr<QMenu> popup = LoadEditPopup();
    popup->exec(globalPos);
}

QPoint CTavroTextEditorDlg::CaretMenuPosition() const
{
    const CRichEditCtrl* editor = activeEditor();
    return editor->viewport()->mapToGlobal(editor->cursorRect().bottomLeft());
}

bool CTavroTextEditorDlg::FilterEditorViewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ContextMenu:
        // The mouse's context menu opens on the button's release, below;
        // the one the platform offers on the press is dropped.
        return static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
            OnEditorMsgFilter(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return false; // the editor goes on with its own handling
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // A file dropped on the text is opened, not inserted as its name.
        return FilterFileDrop(event);
    default:
        return false;
    }
}

} // namespace tavro
