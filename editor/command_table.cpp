// The menu bar as one table: each command's label, shortcut, handler and
// the update handler that says when it is enabled or checked. The actions
// are built from it; their states follow the window's state (brought up to
// date whenever it changes, and again when a popup opens), and Qt runs a
// shortcut only while its action is enabled, as the menu does.
#include "main_window.h"

#include "privacy_ids.h"
#include "resource_ids.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>

namespace tavro {

struct MainWindow::CommandDef {
    int id;                 // 0: separator
    const char16_t* label;  // the text after "\t" is only the shortcut shown
    QKeyCombination shortcut;
    void (MainWindow::*handler)();
    void (MainWindow::*update)(QAction*) const; // nullptr: always enabled
};

namespace {

// The popups of the menu bar, left to right, and the index of the one the
// editor also shows as its context menu.
const char16_t* const kPopupLabels[] = {u"编辑保护(&D)", u"文件(&F)", u"编辑(&E)", u"设置(&S)", u"帮助(&H)"};
constexpr std::size_t kEditPopupIndex = 2;

} // namespace

const std::vector<std::vector<MainWindow::CommandDef>>& MainWindow::CommandTable()
{
    using W = MainWindow;
    constexpr QKeyCombination none{};
    static const std::vector<std::vector<CommandDef>> table{
        {
            {ID_LOCK, u"锁定文本(&L)\tAlt + L", Qt::ALT | Qt::Key_L, &W::OnLock, &W::OnUpdateDocumentCommand},
            {ID_UNLOCK, u"解除锁定(&U)\tAlt + U", Qt::ALT | Qt::Key_U, &W::OnUnlock, &W::OnUpdateDocumentCommand},
            {0, nullptr, none, nullptr, nullptr},
            {ID_HIDE, u"隐藏文本(&Y)\tAlt + Y", Qt::ALT | Qt::Key_Y, &W::OnHide, &W::OnUpdateHide},
            {ID_SHOW, u"显示文本(&X)...\tAlt + X", Qt::ALT | Qt::Key_X, &W::OnShow, &W::OnUpdateShow},
        },
        {
            {ID_FILE_NEW, u"新建(&N)\tCtrl + N", Qt::CTRL | Qt::Key_N, &W::OnFileNew, nullptr},
            {ID_FILE_OPEN, u"打开(&O)...\tCtrl + O", Qt::CTRL | Qt::Key_O, &W::OnFileOpen, nullptr},
            {ID_FILE_SAVE, u"保存(&S)\tCtrl + S", Qt::CTRL | Qt::Key_S, &W::OnFileSave, &W::OnUpdateDocumentCommand},
            {ID_FILE_SAVE_AS, u"另存为(&A)...", none, &W::OnFileSaveAs, &W::OnUpdateDocumentCommand},
            {ID_FILE_EXPORT_TXT, u"导出为txt文件(&T)...", none, &W::OnFileExportTxt, &W::OnUpdateDocumentCommand},
            {ID_FILE_VERSIONS, u"历史版本(&V)...", none, &W::OnFileVersions, &W::OnUpdateDocumentCommand},
            {0, nullptr, none, nullptr, nullptr},
            {ID_FILE_CLOSE_DOC, u"关闭当前文件(&C)", none, &W::OnFileCloseDoc, &W::OnUpdateDocumentOpen},
            {ID_APP_EXIT, u"退出程序(&X)", none, &W::OnAppExit, nullptr},
        },
        {
            // Shortcuts shown here but not bound: the editor's own keys do these.
            {ID_EDIT_UNDO, u"撤销(&Z)\tCtrl + Z", none, &W::OnEditUndo, nullptr},
            {0, nullptr, none, nullptr, nullptr},
            {ID_EDIT_CUT, u"剪切(&T)\tCtrl + T", none, &W::OnEditCut, nullptr},
            {ID_EDIT_COPY, u"复制(&C)\tCtrl + C", none, &W::OnEditCopy, nullptr},
            {ID_EDIT_PASTE, u"粘贴(&P)\tCtrl + V", none, &W::OnEditPaste, nullptr},
            {ID_EDIT_DELETE, u"删除(&L)\tDel", none, &W::OnEditDelete, nullptr},
            {ID_EDIT_SELECT_ALL, u"全选(&A)\tCtrl + A", none, &W::OnEditSelectAll, nullptr},
            {0, nullptr, none, nullptr, nullptr},
            {ID_EDIT_FIND, u"查找(&F)...\tCtrl + F", Qt::CTRL | Qt::Key_F, &W::OnEditFind, &W::OnUpdateDocumentCommand},
            {ID_EDIT_REPLACE, u"替换(&R)...\tCtrl + H", Qt::CTRL | Qt::Key_H, &W::OnEditReplace, &W::OnUpdateReplace},
        },
        {
            {ID_SETTINGS_PASSWORD, u"密码(&P)...\tCtrl + P", Qt::CTRL | Qt::Key_P, &W::OnSettingsPassword,
             &W::OnUpdateDocumentCommand},
            {ID_SETTINGS_FONT, u"字体(&F)...", none, &W::OnSettingsFont, nullptr},
            {ID_SETTINGS_PRIVACY, u"隐私保护(&Y)...", none, &W::OnSettingsPrivacy, nullptr},
            {0, nullptr, none, nullptr, nullptr},
            {ID_WORD_WRAP, u"自动换行(&W)\tAlt + W", Qt::ALT | Qt::Key_W, &W::OnToggleWordWrap, &W::OnUpdateWordWrap},
            {ID_AUTO_SAVE, u"自动保存 60s(&A)", none, &W::OnToggleAutoSave, &W::OnUpdateAutoSave},
        },
        {
            {ID_HELP_USAGE_NOTES, u"使用注意(重要)...", none, &W::OnHelpUsageNotes, nullptr},
            {ID_HELP_STATEMENT, u"安全申明及原理...", none, &W::OnHelpStatement, nullptr},
            {ID_HELP_ABOUT, u"关于...", none, &W::OnHelpAbout, nullptr},
        },
    };
    return table;
}

std::unique_ptr<QMenu> MainWindow::LoadPopup(std::size_t index, QWidget* parent)
{
    auto popup = std::make_unique<QMenu>(QString::fromUtf16(kPopupLabels[index]), parent);
    for (const CommandDef& item : CommandTable()[index]) {
        if (item.id == 0) {
            popup->addSeparator();
            continue;
        }
        QAction* action = popup->addAction(QString::fromUtf16(item.label));
        action->setData(item.id);
        action->setCheckable(item.update == &MainWindow::OnUpdateWordWrap ||
                             item.update == &MainWindow::OnUpdateAutoSave);
        connect(action, &QAction::triggered, this, [this, handler = item.handler] { (this->*handler)(); });
    }
    QMenu* raw = popup.get();
    connect(raw, &QMenu::aboutToShow, this, [this, raw] {
        UpdateActions();
        // A context menu has actions of its own: they take the menu bar's states.
        for (QAction* action : raw->actions()) {
            const QAction* bar = commandAction(action->data().toInt());
            if (bar && bar != action) {
                action->setEnabled(bar->isEnabled());
                action->setChecked(bar->isChecked());
            }
        }
    });
    return popup;
}

void MainWindow::BuildMenuBar()
{
    for (std::size_t index = 0; index < CommandTable().size(); ++index) {
        QMenu* popup = LoadPopup(index, this).release();
        menuBar()->addMenu(popup);
        m_menuPopups.push_back(popup);
        std::size_t position = 0;
        for (const CommandDef& item : CommandTable()[index]) {
            QAction* action = popup->actions()[static_cast<qsizetype>(position++)];
            if (item.id == 0)
                continue;
            m_commandActions[item.id] = action;
            if (item.shortcut != QKeyCombination{})
                action->setShortcut(QKeySequence(item.shortcut)); // window-wide, while enabled
        }
    }
    UpdateActions();
}

QAction* MainWindow::commandAction(int id) const
{
    const auto found = m_commandActions.find(id);
    return found == m_commandActions.end() ? nullptr : found->second;
}

QMenu* MainWindow::menuPopup(int index) const
{
    return m_menuPopups.at(static_cast<std::size_t>(index));
}

void MainWindow::OnCommand(int id)
{
    QAction* action = commandAction(id);
    UpdateActions();
    if (action && action->isEnabled())
        action->trigger();
}

void MainWindow::UpdateActions()
{
    for (const auto& popup : CommandTable())
        for (const CommandDef& item : popup)
            if (item.update)
                (this->*item.update)(commandAction(item.id));
}

void MainWindow::OnUpdateDocumentCommand(QAction* action) const
{
    action->setEnabled(isDocumentOpen() && !isHidden()); // hidden text is for auto-save alone
}

void MainWindow::OnUpdateReplace(QAction* action) const
{
    action->setEnabled(isDocumentOpen() && !isLocked());
}

void MainWindow::OnUpdateWordWrap(QAction* action) const
{
    action->setChecked(m_wordWrap);
}

void MainWindow::OnUpdateAutoSave(QAction* action) const
{
    action->setChecked(m_autoSave.isEnabled());
}

std::unique_ptr<QMenu> MainWindow::LoadEditPopup()
{
    std::unique_ptr<QMenu> popup = LoadPopup(kEditPopupIndex, this);
    emit popup->aboutToShow(); // the states, as the menu bar's
    return popup;
}

void MainWindow::OnEditorMsgFilter(const QPoint& globalPos)
{
    // The Edit popup, loaded afresh, at globalPos; a chosen item is carried
    // out as if it came from the menu bar.
    std::unique_ptr<QMenu> popup = LoadEditPopup();
    popup->exec(globalPos);
}

QPoint MainWindow::CaretMenuPosition() const
{
    return m_editor->viewport()->mapToGlobal(m_editor->cursorRect().bottomLeft());
}

bool MainWindow::FilterEditorViewportEvent(QEvent* event)
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
