#include "code_page.h"
#include "document_file.h"
#include "key_derivation.h"
#include "support/password_key.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>

#include <functional>
#include <string>

namespace tavro::test {
namespace {

const QString kLossyText = QStringLiteral("a\U0001F600béc \u0915d");
const QString kStoredCopyWarning = QStringLiteral(
    "该文档打开时的文件内容无法由显示的文本原样还原,\n"
    "可能是密码错误或文件已损坏,显示的文本可能不是原文.\n"
    "保存后将永久替换已存储的文档,无法恢复.\n\n是否仍然保存?");

QString StoredText(const QByteArray& file, const DocumentKey& key = kZeroKey)
{
    const DecryptedDocument document = DecryptDocument(
        {reinterpret_cast<const std::uint8_t*>(file.constData()), static_cast<std::size_t>(file.size())}, key);
    return QString::fromStdU16String(document.text);
}

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class WriteChecks : public WindowTest {
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

TEST_F(WriteChecks, LossySaveNamesTheCharactersAndWritesOnlyWhenAccepted)
{
    TypeText(kLossyText);
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnFileSave();
    window->WaitForSave(); // the question comes once the text is encoded
    const ShownPrompt& question = prompts.shown.back();
    EXPECT_EQ(question.text, QStringLiteral("文本中有 2 种字符无法保存:\n\U0001F600 (U+1F600)  \u0915 (U+0915)\n"
                                            "保存后这些字符将变成\"?\".\n\n是否仍然保存?"));
    EXPECT_EQ(question.caption, QStringLiteral("警告"));
    EXPECT_EQ(question.icon, MessageIcon::Warning);
    EXPECT_EQ(Stored().size(), 0); // going back writes nothing
    EXPECT_TRUE(window->isModified());

    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    window->OnFileSave();
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("a??béc ?d"));
    EXPECT_FALSE(window->isModified());
}

TEST_F(WriteChecks, AutoSaveNeverAsksAndWritesOnlyCleanOrAcceptedText)
{
    TypeText(kLossyText);
    window->OnTimer(kAutoSaveTimerId); // lossy, never accepted: skipped silently
    EXPECT_EQ(prompts.shown.size(), 2u); // New's file chooser and password dialog only
    EXPECT_TRUE(Stored().isEmpty());

    TypeText(QStringLiteral("clean"));
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("clean"));

    // Accepted once for a text state (here by Export): the tick writes it.
    TypeText(kLossyText);
    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    prompts.AnswerFile(Path(QStringLiteral("out.txt")));
    window->OnFileExportTxt();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("a??béc ?d"));

    // A new text state is a new question: the tick skips it again, even
    // after an undo and another edit.
    window->activeEditor()->insertPlainText(QStringLiteral("x"));
    window->OnEditUndo();
    window->activeEditor()->insertPlainText(QStringLiteral("y"));
    const QByteArray before = Stored();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(LossyQuestions(), 1u);
}

// A text state found lossy is not snapshot again at every tick; the next
// edit is a new state, tried again.
TEST_F(WriteChecks, AutoSaveTriesALossyTextStateOnce)
{
    TypeText(kLossyText);
    window->OnTimer(kAutoSaveTimerId);
    window->WaitForSave();
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_FALSE(window->isSaving());
    window->activeEditor()->insertPlainText(QStringLiteral("x"));
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_TRUE(window->isSaving());
    EXPECT_TRUE(Stored().isEmpty());
    EXPECT_EQ(prompts.shown.size(), 2u); // New's file chooser and password dialog only
}

TEST_F(WriteChecks, EveryWriteAsksAndGoingBackWritesNothing)
{
    TypeText(QStringLiteral("clean"));
    window->OnFileSave();
    const QByteArray saved = Stored();
    TypeText(kLossyText);
    struct Write {
        const char* name;
        std::function<void()> run;
    } const writes[] = {
        {"Save", [&] { window->OnFileSave(); window->WaitForSave(); }},
        {"Lock", [&] { window->OnLock(); window->WaitForSave(); }},
        {"SaveAs", [&] { window->OnFileSaveAs(); }},
        {"Export", [&] { window->OnFileExportTxt(); }},
        {"Password", [&] {
             prompts.AnswerMessage(MessageAnswer::Yes); // the command's own warning first
             prompts.AnswerMessage(MessageAnswer::GoBack);
             window->OnSettingsPassword();
         }},
    };
    for (const Write& write : writes) {
        SCOPED_TRACE(write.name);
        const std::size_t before = LossyQuestions();
        if (std::string(write.name) != "Password")
            prompts.AnswerMessage(MessageAnswer::GoBack);
        write.run();
        EXPECT_EQ(LossyQuestions(), before + 1);
        EXPECT_EQ(Stored(), saved);
        EXPECT_FALSE(window->isLocked()); // going back from Lock: still editing
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.tvro")});
    }
}

// The lossy question of Lock comes once the worker has encoded the text,
// after the lock: going back restores the lock state from before Lock.
TEST_F(WriteChecks, GoingBackFromLocksQuestionKeepsTheLockItHad)
{
    TypeText(kLossyText);
    window->LockEditors();
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnLock();
    EXPECT_TRUE(Stored().isEmpty());
    EXPECT_EQ(LossyQuestions(), 1u);
    EXPECT_TRUE(window->isLocked());
}

TEST_F(WriteChecks, NulCharacterIsNamedWithWhatItCosts)
{
    TypeText(QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"));
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(prompts.shown.back().text,
              QStringLiteral("文本中有 1 种字符无法保存:\nU+0000\n空字符(U+0000)之后的文本在重新打开时将丢失.\n\n是否仍然保存?"));
    EXPECT_EQ(Stored().size(), 0);
}

TEST_F(WriteChecks, ManyLossyCharactersShowAFewAndTheCount)
{
    QString text;
    for (char16_t c = 0x0E01; c < 0x0E01 + 12; ++c)
        text += QChar(c);
    TypeText(text);
    prompts.AnswerMessage(MessageAnswer::GoBack);
    window->OnFileSave();
    window->WaitForSave();
    const QString shown = prompts.shown.back().text;
    EXPECT_TRUE(shown.startsWith(QStringLiteral("文本中有 12 种字符无法保存:\n\u0E01 (U+0E01)")));
    EXPECT_TRUE(shown.contains(QStringLiteral("\u0E08 (U+0E08)  等\n")));
    EXPECT_FALSE(shown.contains(QStringLiteral("U+0E09")));
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
        ASSERT_TRUE(window->isStoredCopyProtected());
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
    window->activeEditor()->insertPlainText(QStringLiteral("edit"));
    window->OnTimer(kAutoSaveTimerId);
    window->OnTimer(kAutoSaveTimerId);
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), stored);

    for (auto command : {&CTavroTextEditorDlg::OnFileSave, &CTavroTextEditorDlg::OnLock}) {
        prompts.AnswerMessage(MessageAnswer::No);
        (window.get()->*command)();
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
    EXPECT_EQ(prompts.MessageTexts().front(), kStoredCopyWarning);
    EXPECT_NE(ReadFile(QStringLiteral("a.tvro")), stored);
    EXPECT_FALSE(window->isStoredCopyProtected()); // the file now holds the text shown
}

} // namespace
} // namespace tavro::test
