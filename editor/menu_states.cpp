// Which menu items are enabled or checked, recomputed from the window's
// flags whenever a popup opens, an accelerator is pressed, or a flag changes.
#include "main_window.h"
#include "menus.h"

#include <QCursor>
#include <QMenu>

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

void CTavroTextEditorDlg::OnEditorMsgFilter()
{
    // The Edit popup, loaded afresh, at the mouse cursor; a chosen item is
    // carried out as if it came from the menu bar.
    std::unique_ptr<QMenu> popup = LoadEditPopup();
    popup->exec(QCursor::pos());
}

} // namespace tavro
