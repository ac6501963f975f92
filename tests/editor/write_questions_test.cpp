#include "code_page.h"
#include "document_file.h"
#include "key_derivation.h"
#include "support/password_key.h"
#include "document_status_bar.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <string>

namespace tavro::test {
namespace {

const QString kLossyText = QStringLiteral("a\U0001F600béc \u0915d");
const QString kStoredCopyWarning = QStringLiteral(
    "该文档打开时的内容未能通过检查(可能是密码错误,文件已损坏,或它不是Tavro文档),\n"
    "显示的文本可能不是原文.\n"
    "保存后将替换已存储的文档;被替换的文件可以在\"历史版本\"中恢复.\n\n是否仍然保存?");

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class WriteQuestions : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        NewDocument(QStringLiteral("a.tvro"), nullptr);
    }

    QByteArray Stored() const { return ReadFile(QStringLiteral("a.tvro")); }

    // Every message shown so far asked about lossy characters.
    std::size_t LossyQuestions() const
    {
        std::size_t count = 0;
        for (const ShownPrompt& p : prompts.shown)
            count += p.kind == ShownPrompt::Kind::Message && p.buttons == MessageButtons::SaveAnywayGoBack;
        return count;
    }
};

TEST_F(WriteQuestions, LossySaveNamesTheCharactersAndWritesOnlyWhenAccepted)
{
    TypeText(kLossyText);
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnFileSave();
    window->WaitForSave(); // the question comes once the text is encoded
    const ShownPrompt& question = prompts.shown.back();
    EXPECT_EQ(question.text, QStringLiteral("文本中有 2 种字符无法保存:\nU+1F600  \U0001F600\nU+0915  \u0915\n"
                                            "保存后这些字符将变成\"?\"(U+FFFF 以上的字符,如表情符号,变成\"??\").\n"
                                            "被替换的文件可以在\"历史版本\"中恢复.\n\n是否仍然保存?"));
    EXPECT_EQ(question.caption, QStringLiteral("警告"));
    EXPECT_EQ(question.icon, MessageIcon::Warning);
    EXPECT_EQ(Stored().size(), 0); // going back writes nothing
    EXPECT_TRUE(window->isModified());

    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    window->OnFileSave();
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("a??béc ?d"));
    EXPECT_FALSE(window->isModified());
}

TEST_F(WriteQuestions, AutoSaveNeverAsksAndWritesOnlyCleanOrAcceptedText)
{
    const auto autoSaveStatus = [this] { return window->documentStatusBar()->Texts().at(2); };
    TypeText(kLossyText);
    window->OnTimer(); // lossy, never accepted: skipped without a question, but said
    window->WaitForSave();
    EXPECT_EQ(prompts.shown.size(), 2u); // New's file chooser and password dialog only
    EXPECT_TRUE(Stored().isEmpty());
    EXPECT_EQ(autoSaveStatus(), QStringLiteral("自动保存: 暂停 (有无法保存的字符)"));

    TypeText(QStringLiteral("clean"));
    EXPECT_EQ(autoSaveStatus(), QStringLiteral("自动保存: 开"));
    window->OnTimer();
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("clean"));

    // Accepted for an exported copy, or an Export given up in its file
    // dialog: no consent for the document itself.
    TypeText(kLossyText);
    prompts.AnswerFile(Path(QStringLiteral("out.txt")));
    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    window->OnFileExportTxt();
    window->WaitForSave();
    prompts.AnswerFile(std::nullopt);
    window->OnFileExportTxt();
    window->OnTimer();
    window->WaitForSave();
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("clean"));
    EXPECT_EQ(autoSaveStatus(), QStringLiteral("自动保存: 暂停 (有无法保存的字符)"));

    // Accepted for the document by Save: written, and so is the same text
    // state by a later tick after an undo and a redo.
    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("a??béc ?d"));

    // A new text state is a new question: the tick skips it again, even
    // after an undo and another edit.
    window->editor()->insertPlainText(QStringLiteral("x"));
    window->OnEditUndo();
    window->editor()->insertPlainText(QStringLiteral("y"));
    const QByteArray before = Stored();
    window->OnTimer();
    window->WaitForSave();
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(LossyQuestions(), 2u);
}

// A text state found lossy is not snapshot again at every tick; the next
// edit is a new state, tried again.
TEST_F(WriteQuestions, AutoSaveTriesALossyTextStateOnce)
{
    TypeText(kLossyText);
    window->OnTimer();
    window->WaitForSave();
    window->OnTimer();
    EXPECT_FALSE(window->session()->isWriting());
    window->editor()->insertPlainText(QStringLiteral("x"));
    window->OnTimer();
    EXPECT_TRUE(window->session()->isWriting());
    EXPECT_TRUE(Stored().isEmpty());
    EXPECT_EQ(prompts.shown.size(), 2u); // New's file chooser and password dialog only
}

TEST_F(WriteQuestions, EveryWriteAsksAndGoingBackWritesNothing)
{
    TypeText(QStringLiteral("clean"));
    window->OnFileSave();
    const QByteArray saved = Stored();
    TypeText(kLossyText);
    // Each write asks once the text is encoded, after its own dialogs.
    struct Write {
        const char* name;
        std::function<void()> scriptDialogs;
        void (MainWindow::*command)();
    } const writes[] = {
        {"Save", [] {}, &MainWindow::OnFileSave},
        {"Lock", [] {}, &MainWindow::OnLock},
        {"SaveAs", [&] { prompts.AnswerFile(Path(QStringLiteral("b.tvro"))); }, &MainWindow::OnFileSaveAs},
        {"Export", [&] { prompts.AnswerFile(Path(QStringLiteral("b.txt"))); }, &MainWindow::OnFileExportTxt},
        {"Password",
         [&] {
             prompts.AnswerMessage(MessageAnswer::Yes); // the command's own warning
             AnswerPasswordTwice(QStringLiteral("new"));
         },
         &MainWindow::OnSettingsPassword},
    };
    for (const Write& write : writes) {
        SCOPED_TRACE(write.name);
        const std::size_t before = LossyQuestions();
        write.scriptDialogs();
        prompts.AnswerMessage(MessageAnswer::GoBack);
        (window.get()->*write.command)();
        window->WaitForSave();
        EXPECT_EQ(LossyQuestions(), before + 1);
        EXPECT_EQ(Stored(), saved);
        EXPECT_FALSE(window->isLocked()); // going back from Lock: still editing
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.tvro")});
        EXPECT_EQ(window->documentPath(), Path(QStringLiteral("a.tvro")));
    }
    EXPECT_EQ(window->session()->key().tvro().bytes(), kZeroKey); // the new key was not taken
}

// A line break typed with Shift+Enter is a line break of the file, not a
// character the file cannot hold.
TEST_F(WriteQuestions, ShiftEnterIsALineBreak)
{
    ShowActive();
    QTest::keyClicks(window->editor(), QStringLiteral("a"));
    QTest::keyClick(window->editor(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(window->editor(), QStringLiteral("b"));
    ASSERT_TRUE(window->editor()->document()->toRawText().contains(QChar::LineSeparator));
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(LossyQuestions(), 0u);
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("a\nb"));
}

// The lossy question of Lock comes once the worker has encoded the text,
// after the lock: going back restores the lock state from before Lock.
TEST_F(WriteQuestions, GoingBackFromLocksQuestionKeepsTheLockItHad)
{
    TypeText(kLossyText);
    window->LockEditors();
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnLock();
    EXPECT_TRUE(Stored().isEmpty());
    EXPECT_EQ(LossyQuestions(), 1u);
    EXPECT_TRUE(window->isLocked());
}

TEST_F(WriteQuestions, NulCharacterIsNamedWithWhatItCosts)
{
    TypeText(QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"));
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(prompts.shown.back().text,
              QStringLiteral("文本中有 1 种字符无法保存:\nU+0000\n空字符(U+0000)之后的文本在重新打开时将丢失.\n"
                             "被替换的文件可以在\"历史版本\"中恢复.\n\n是否仍然保存?"));
    EXPECT_EQ(Stored().size(), 0);
}

TEST_F(WriteQuestions, EightLossyCharactersAreAllShownAndMoreAreCounted)
{
    // From U+0E2F: U+0E31 among them is a combining mark, shown on a dotted circle.
    for (const int count : {8, 12}) {
        SCOPED_TRACE(count);
        QString text;
        for (int i = 0; i < count; ++i)
            text += QChar(0x0E2F + i);
        TypeText(text);
        prompts.AnswerMessage(MessageAnswer::GoBack);
        window->OnFileSave();
        window->WaitForSave();
        const QString shown = prompts.shown.back().text;
        EXPECT_TRUE(shown.startsWith(QStringLiteral("文本中有 %1 种字符无法保存:\nU+0E2F  \u0E2F\n").arg(count)));
        EXPECT_TRUE(shown.contains(QStringLiteral("\nU+0E31  \u25CC\u0E31\n")));
        EXPECT_TRUE(shown.contains(QStringLiteral("\nU+0E36  ")));
        EXPECT_EQ(shown.contains(QStringLiteral("\n等\n")), count > 8);
        EXPECT_FALSE(shown.contains(QStringLiteral("U+0E37")));
        EXPECT_TRUE(shown.contains(QStringLiteral("变成\"?\".")));
    }
}

class GarbledDocument : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        // Long enough that garbage from a wrong key is never valid text by chance.
        WriteFile(QStringLiteral("a.tvro"), Encrypt(QString(200, QChar(u'文')), PasswordKey(u"right")));
        stored = ReadFile(QStringLiteral("a.tvro"));
        OpenDocument(QStringLiteral("a.tvro"), u"wrong");
        ASSERT_TRUE(prompts.MessageTexts().empty()); // nothing is said at open
        ASSERT_TRUE(window->session()->isProtected());
    }

    // Answers the lossy question that garbage usually raises as well.
    void AcceptLossyGarbage()
    {
        if (!LossyCharacters(EditorText().toStdU16String()).empty())
            prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    }

    QByteArray stored;
};

TEST_F(GarbledDocument, IsNeverWrittenUnaskedAndNoKeepsItByteForByte)
{
    window->OnUnlock();
    window->editor()->insertPlainText(QStringLiteral("edit"));
    window->OnTimer();
    window->OnTimer();
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("受保护")));
    EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("自动保存: 暂停 (文档受保护)")));
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), stored);

    for (auto command : {&MainWindow::OnFileSave, &MainWindow::OnLock}) {
        prompts.AnswerMessage(MessageAnswer::No);
        (window.get()->*command)();
        window->WaitForSave();
        EXPECT_EQ(prompts.shown.back().text, kStoredCopyWarning);
        EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("警告"));
        EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::YesNoDefaultNo);
        EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), stored);
    }
}

TEST_F(GarbledDocument, LockOfTheStillLockedDocumentAsksAndYesReplacesIt)
{
    prompts.AnswerMessage(MessageAnswer::Yes);
    AcceptLossyGarbage();
    window->OnLock();
    window->WaitForSave();
    EXPECT_EQ(prompts.MessageTexts().front(), kStoredCopyWarning);
    EXPECT_NE(ReadFile(QStringLiteral("a.tvro")), stored);
    EXPECT_FALSE(window->session()->isProtected()); // the file now holds the text shown
}

} // namespace
} // namespace tavro::test
