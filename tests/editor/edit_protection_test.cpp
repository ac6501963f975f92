#include "window_fixture.h"

#include <QFileInfo>

namespace tavro::test {
namespace {

class EditProtection : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        NewDocument(QStringLiteral("a.tvro"), nullptr);
        TypeText(QStringLiteral("text"));
    }

    // Removes the document file; the next write makes it again.
    bool Written()
    {
        window->WaitForSave();
        const bool exists = QFileInfo::exists(Path(QStringLiteral("a.tvro"))) &&
                            QFileInfo(Path(QStringLiteral("a.tvro"))).size() > 0;
        QFile::remove(Path(QStringLiteral("a.tvro")));
        return exists;
    }

    void ExpectLockInvariant(bool locked)
    {
        EXPECT_EQ(window->isLocked(), locked);
        EXPECT_EQ(window->wrapEditor()->isReadOnly(), locked);
        EXPECT_EQ(window->noWrapEditor()->isReadOnly(), locked);
        EXPECT_EQ(window->windowTitle(),
                  (locked ? kLockedTitlePrefix : kTitlePrefix) + QStringLiteral("[a.tvro]"));
    }
};

TEST_F(EditProtection, LockWritesEveryTimeUnlockNever)
{
    Written();
    window->OnLock();
    ExpectLockInvariant(true);
    EXPECT_TRUE(Written());
    window->OnLock();
    EXPECT_TRUE(Written());
    window->OnUnlock();
    ExpectLockInvariant(false);
    window->OnUnlock();
    EXPECT_FALSE(Written());
}

TEST_F(EditProtection, AutoSaveWritesOnlyAnOpenUnlockedDocument)
{
    Written();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_TRUE(Written());
    window->OnTimer(2); // not the auto-save timer
    EXPECT_FALSE(Written());
    window->OnLock();
    Written();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_FALSE(Written());
    window->OnUnlock();
    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_TRUE(prompts.AllAnswered()); // no message either
    EXPECT_FALSE(Written());
}

TEST_F(EditProtection, TheTimerRunsExactlyWhileAutoSaveIsOn)
{
    EXPECT_TRUE(window->isAutoSaveTimerRunning());
    window->OnToggleAutoSave();
    EXPECT_FALSE(window->isAutoSave());
    EXPECT_FALSE(window->isAutoSaveTimerRunning());
    window->OnToggleAutoSave();
    EXPECT_TRUE(window->isAutoSaveTimerRunning());
}

TEST_F(EditProtection, FailedLockSaveStillLocks)
{
    QFile::remove(Path(QStringLiteral("a.tvro")));
    QDir(dir.path()).removeRecursively(); // the folder is gone
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnLock();
    window->WaitForSave();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("尝试写文件失败!"));
    ExpectLockInvariant(true);
}

} // namespace
} // namespace tavro::test

namespace tavro::test {
namespace {

TEST_F(EditProtection, UnlockLeavesACaretSoTheFirstKeyInserts)
{
    window->OnFileSave();
    prompts.AnswerMessage(MessageAnswer::Yes);
    prompts.AnswerFile(Path(QStringLiteral("a.tvro")));
    CancelPassword();
    window->OnFileOpen();
    EXPECT_TRUE(window->activeEditor()->textCursor().hasSelection()); // shown locked, all selected
    window->OnUnlock();
    EXPECT_FALSE(window->activeEditor()->textCursor().hasSelection());
    EXPECT_EQ(window->activeEditor()->textCursor().position(), 0);
    QTest::keyClick(window->activeEditor(), Qt::Key_X);
    EXPECT_EQ(EditorText(), QStringLiteral("xtext"));
}

} // namespace
} // namespace tavro::test
