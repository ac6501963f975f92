#include "privacy_ids.h"
#include "resource_ids.h"
#include "window_fixture.h"

#include <QMenu>
#include <QTest>

namespace tavro::test {
namespace {

// Greyed without a document, and while its text is hidden.
const int kDocumentCommands[] = {ID_LOCK,           ID_UNLOCK,    ID_FILE_SAVE,         ID_FILE_SAVE_AS,
                                 ID_FILE_EXPORT_TXT, ID_EDIT_FIND, ID_SETTINGS_PASSWORD, ID_HIDE};
const int kAlwaysEnabled[] = {ID_FILE_NEW,   ID_FILE_OPEN,       ID_APP_EXIT,        ID_EDIT_UNDO,
                              ID_EDIT_CUT,   ID_EDIT_COPY,       ID_EDIT_PASTE,      ID_EDIT_DELETE,
                              ID_EDIT_SELECT_ALL, ID_SETTINGS_FONT, ID_WORD_WRAP,     ID_AUTO_SAVE,
                              ID_HELP_USAGE_NOTES, ID_HELP_STATEMENT, ID_HELP_ABOUT, ID_SETTINGS_PRIVACY};

class MenuStates : public WindowTest {
protected:
    // States as they are, without a popup opened to bring them up to date:
    // every change of the window's state does.
    bool Enabled(int id) { return window->commandAction(id)->isEnabled(); }

    void ExpectStates(bool documentCommands, bool replace, bool hidden = false)
    {
        for (int id : kDocumentCommands)
            EXPECT_EQ(Enabled(id), documentCommands && !hidden) << id;
        EXPECT_EQ(Enabled(ID_EDIT_REPLACE), replace);
        EXPECT_EQ(Enabled(ID_FILE_CLOSE_DOC), documentCommands);
        EXPECT_EQ(Enabled(ID_SHOW), hidden);
        for (int id : kAlwaysEnabled)
            EXPECT_TRUE(Enabled(id)) << id;
    }
};

TEST_F(MenuStates, FollowTheDocumentTheLockAndHiding)
{
    ExpectStates(false, false);
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    ExpectStates(true, true);
    window->OnLock();
    ExpectStates(true, false); // only Replace is greyed
    window->OnUnlock();
    ExpectStates(true, true);
    window->OnHide(); // only Close and Show of the document's commands
    ExpectStates(true, false, true);
    window->OnShow(); // no password was given: none is asked for
    ExpectStates(true, false);
}

TEST_F(MenuStates, CheckMarksFollowTheSwitches)
{
    ShowActive();
    EXPECT_TRUE(window->commandAction(ID_WORD_WRAP)->isChecked());
    EXPECT_TRUE(window->commandAction(ID_AUTO_SAVE)->isChecked());
    QTest::keyClick(window.get(), Qt::Key_W, Qt::AltModifier);
    window->OnCommand(ID_AUTO_SAVE);
    EXPECT_FALSE(window->commandAction(ID_WORD_WRAP)->isChecked());
    EXPECT_FALSE(window->commandAction(ID_AUTO_SAVE)->isChecked());
    EXPECT_EQ(window->editor()->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(MenuStates, AcceleratorsOfGreyedItemsDoNothing)
{
    ShowActive();
    // No document: Save, Lock, Find, Replace and Password are greyed.
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_L, Qt::AltModifier);
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(prompts.shown.empty()); // not even "没有文件被打开."
    EXPECT_FALSE(window->isLocked());
    EXPECT_FALSE(window->isFindDialogOpen());

    NewDocument(QStringLiteral("a.tvro"), nullptr);
    QTest::keyClick(window->editor(), Qt::Key_L, Qt::AltModifier);
    EXPECT_TRUE(window->isLocked());
    QTest::keyClick(window->editor(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(window->isFindDialogOpen()); // Replace is greyed while locked
    QTest::keyClick(window->editor(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(window->isFindDialogOpen());
    QTest::keyClick(window->editor(), Qt::Key_U, Qt::AltModifier);
    EXPECT_FALSE(window->isLocked());
    // A modifier the table does not name is another key.
    QTest::keyClick(window->editor(), Qt::Key_L, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_FALSE(window->isLocked());
}

TEST_F(MenuStates, ContextMenuIsTheEditPopupWithTheSameStates)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    window->OnLock();
    std::unique_ptr<QMenu> popup = window->LoadEditPopup();
    QMenu* bar = window->menuPopup(2); // "编辑(&E)"
    ASSERT_EQ(popup->actions().size(), bar->actions().size());
    for (qsizetype i = 0; i < bar->actions().size(); ++i) {
        EXPECT_EQ(popup->actions()[i]->text(), bar->actions()[i]->text());
        EXPECT_EQ(popup->actions()[i]->isEnabled(), bar->actions()[i]->isEnabled());
    }
    QAction* find = nullptr;
    QAction* replace = nullptr;
    for (QAction* action : popup->actions()) {
        if (action->data().toInt() == ID_EDIT_FIND)
            find = action;
        if (action->data().toInt() == ID_EDIT_REPLACE)
            replace = action;
    }
    ASSERT_TRUE(find && replace);
    EXPECT_FALSE(replace->isEnabled());
    find->trigger();
    EXPECT_TRUE(window->isFindDialogOpen());
    EXPECT_TRUE(window->findDialog()->IsFindOnly());
}

} // namespace
} // namespace tavro::test
