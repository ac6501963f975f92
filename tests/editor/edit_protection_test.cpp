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
        EXPECT_EQ(window->editor()->isReadOnly(), locked);
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
    window->OnTimer();
    EXPECT_TRUE(Written());
    TypeText(QStringLiteral("more"));
    window->OnLock();
    Written();
    window->OnTimer();
    EXPECT_FALSE(Written());
    window->OnUnlock();
    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    window->OnTimer();
    EXPECT_TRUE(prompts.AllAnswered()); // no message either
    EXPECT_FALSE(Written());
}

TEST_F(EditProtection, TheTimerRunsExactlyWhileAutoSaveIsOn)
{
    EXPECT_TRUE(window->autoSave().timer().isActive());
    window->OnToggleAutoSave();
    EXPECT_FALSE(window->isAutoSave());
    EXPECT_FALSE(window->autoSave().timer().isActive());
    window->OnToggleAutoSave();
    EXPECT_TRUE(window->autoSave().timer().isActive());
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
    // Unsaved, but locked: a tick leaves it alone once the folder is back.
    ASSERT_TRUE(QDir().mkpath(dir.path()));
    EXPECT_TRUE(window->isModified());
    window->OnTimer();
    EXPECT_FALSE(Written());
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
    window->editor()->selectAll(); // selected while locked, to copy
    window->OnUnlock();
    EXPECT_FALSE(window->editor()->textCursor().hasSelection());
    EXPECT_EQ(window->editor()->textCursor().position(), 0);
    QTest::keyClick(window->editor(), Qt::Key_X);
    EXPECT_EQ(EditorText(), QStringLiteral("xtext"));
}

} // namespace
} // namespace tavro::test
