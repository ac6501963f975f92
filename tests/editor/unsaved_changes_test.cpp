#include "document_file.h"
#include "window_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextCursor>

namespace tavro::test {
namespace {

const QString kCloseQuestion = QStringLiteral("是否关闭当前文档?\n(请注意保存)");

void CancelPasswordOf(ScriptedPrompts& prompts)
{
    prompts.AnswerModal([](QDialog& dialog) {
        dynamic_cast<PasswordDialog&>(dialog).OnCancel();
        return dialog.result();
    });
}

// A command that drops the open document, with the prompts it shows once
// it goes on, and what shows that it went on.
struct DroppingCommand {
    const char* name;
    bool asksWhenUnchanged; // New, Open and Close ask the Part's Yes/No question
    void (*scriptOnwards)(const QDir& dir, ScriptedPrompts& prompts);
    void (*run)(MainWindow& window);
    bool (*wentOn)(const MainWindow& window);
};

const DroppingCommand kCommands[] = {
    {"New", true,
     [](const QDir& dir, ScriptedPrompts& prompts) {
         prompts.AnswerFile(dir.filePath(QStringLiteral("b.tvro")));
         CancelPasswordOf(prompts);
     },
     [](MainWindow& w) { w.OnFileNew(); },
     [](const MainWindow& w) { return w.documentPath().endsWith(QStringLiteral("b.tvro")); }},
    {"Open", true,
     [](const QDir& dir, ScriptedPrompts& prompts) {
         const auto bytes = EncryptDocument(u"other", kZeroKey);
         QFile file(dir.filePath(QStringLiteral("c.tvro")));
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
         file.close();
         prompts.AnswerFile(dir.filePath(QStringLiteral("c.tvro")));
         CancelPasswordOf(prompts);
     },
     [](MainWindow& w) { w.OnFileOpen(); },
     [](const MainWindow& w) { return w.documentPath().endsWith(QStringLiteral("c.tvro")); }},
    {"Close", true, [](const QDir&, ScriptedPrompts&) {},
     [](MainWindow& w) { w.OnFileCloseDoc(); },
     [](const MainWindow& w) { return !w.isDocumentOpen(); }},
    {"Exit", false, [](const QDir&, ScriptedPrompts&) {},
     [](MainWindow& w) { w.OnAppExit(); },
     [](const MainWindow& w) { return QFileInfo::exists(w.configPath()); }},
    {"CloseBox", false, [](const QDir&, ScriptedPrompts&) {},
     [](MainWindow& w) { w.close(); },
     [](const MainWindow& w) { return QFileInfo::exists(w.configPath()); }},
};

class UnsavedChanges : public WindowTest, public ::testing::WithParamInterface<DroppingCommand> {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        NewDocument(QStringLiteral("a.tvro"), nullptr);
        TypeText(QStringLiteral("saved"));
        window->OnFileSave();
        window->WaitForSave();
    }

    QByteArray Stored() const { return ReadFile(QStringLiteral("a.tvro")); }
};

TEST_P(UnsavedChanges, EachAnswerOfTheQuestion)
{
    const DroppingCommand& command = GetParam();
    const QByteArray saved = Stored();
    TypeText(QStringLiteral("draft"));
    ASSERT_TRUE(window->isModified());

    // Cancel: the command ends with nothing changed.
    prompts.AnswerMessage(MessageAnswer::Cancel);
    command.run(*window);
    ASSERT_EQ(prompts.shown.size(), 3u); // after New's file chooser and password dialog
    EXPECT_EQ(prompts.shown.back().text, kCloseQuestion);
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("重要提示"));
    EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::SaveDiscardCancel);
    EXPECT_FALSE(command.wentOn(*window));
    EXPECT_EQ(EditorText(), QStringLiteral("draft"));
    EXPECT_TRUE(window->isModified());
    EXPECT_EQ(Stored(), saved);

    // Save: written first, then the command goes on.
    prompts.AnswerMessage(MessageAnswer::Save);
    command.scriptOnwards(QDir(dir.path()), prompts);
    command.run(*window);
    EXPECT_EQ(StoredText(Stored()), QStringLiteral("draft"));
    EXPECT_TRUE(command.wentOn(*window));
}

TEST_P(UnsavedChanges, DiscardGoesOnWithoutWriting)
{
    const DroppingCommand& command = GetParam();
    const QByteArray saved = Stored();
    TypeText(QStringLiteral("draft"));
    prompts.AnswerMessage(MessageAnswer::Discard);
    command.scriptOnwards(QDir(dir.path()), prompts);
    command.run(*window);
    EXPECT_TRUE(command.wentOn(*window));
    EXPECT_EQ(Stored(), saved);
}

TEST_P(UnsavedChanges, FailedSaveEndsTheCommand)
{
    const DroppingCommand& command = GetParam();
    TypeText(QStringLiteral("draft"));
    QFile::remove(Path(QStringLiteral("a.tvro")));
    QDir(dir.path()).mkdir(QStringLiteral("a.tvro")); // a folder where the file should be
    prompts.AnswerMessage(MessageAnswer::Save);
    prompts.AnswerMessage(MessageAnswer::Ok);
    command.run(*window);
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("尝试写文件失败!"));
    EXPECT_FALSE(command.wentOn(*window));
    EXPECT_EQ(EditorText(), QStringLiteral("draft"));
}

TEST_P(UnsavedChanges, AnUnchangedDocumentAsksWhatItAlwaysAsked)
{
    const DroppingCommand& command = GetParam();
    // An edit undone back to the saved text counts as unchanged.
    window->editor()->moveCursor(QTextCursor::End);
    window->editor()->insertPlainText(QStringLiteral("x"));
    EXPECT_TRUE(window->isModified());
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QStringLiteral("saved"));
    EXPECT_FALSE(window->isModified());

    if (command.asksWhenUnchanged)
        prompts.AnswerMessage(MessageAnswer::Yes);
    command.scriptOnwards(QDir(dir.path()), prompts);
    const std::size_t before = prompts.shown.size();
    command.run(*window);
    EXPECT_TRUE(command.wentOn(*window));
    if (command.asksWhenUnchanged) {
        ASSERT_GT(prompts.shown.size(), before);
        EXPECT_EQ(prompts.shown[before].text, kCloseQuestion);
        EXPECT_EQ(prompts.shown[before].buttons, MessageButtons::YesNo);
    } else {
        EXPECT_EQ(prompts.shown.size(), before); // Exit and the close box ask nothing
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, UnsavedChanges, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

using AutoSaveOfChanges = WindowTest;

TEST_F(AutoSaveOfChanges, AnUnchangedDocumentIsNotWrittenAndEveryChangeIs)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("one"));
    window->OnTimer();
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), QStringLiteral("one"));
    EXPECT_FALSE(window->isModified());

    // Nothing changed: neither the bytes nor the modification time move.
    const QByteArray bytes = ReadFile(QStringLiteral("a.tvro"));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    {
        QFile file(Path(QStringLiteral("a.tvro")));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    window->OnTimer();
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), bytes);
    EXPECT_EQ(QFileInfo(Path(QStringLiteral("a.tvro"))).lastModified(), old);

    // Lock still writes an unchanged text (the time set back above makes
    // the file another writer's: replacing it is asked first).
    prompts.AnswerMessage(MessageAnswer::Overwrite);
    window->OnLock();
    window->WaitForSave();
    EXPECT_NE(QFileInfo(Path(QStringLiteral("a.tvro"))).lastModified(), old);
}

// Text typed while the worker writes the snapshot is not in the file: it
// stays unsaved, and the next tick writes it.
TEST_F(AutoSaveOfChanges, AnEditDuringABackgroundWriteStaysUnsaved)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("snapshot"));
    window->OnTimer();
    ASSERT_TRUE(window->session()->isWriting());
    window->editor()->moveCursor(QTextCursor::End);
    window->editor()->insertPlainText(QStringLiteral(" and more"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->session()->isWriting(); }, 20000));
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), QStringLiteral("snapshot"));
    EXPECT_TRUE(window->isModified());
    window->OnTimer();
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), QStringLiteral("snapshot and more"));
    EXPECT_FALSE(window->isModified());
}

TEST_F(AutoSaveOfChanges, TwoTicksInARowOnAnOpenedUnlockedDocumentBothWrite)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("stored"));
    window->OnFileSave();
    OpenDocument(QStringLiteral("a.tvro"), nullptr, Open::Unchanged);
    window->OnUnlock();
    for (const QString& text : {QStringLiteral("first tick"), QStringLiteral("second tick")}) {
        TypeText(text);
        window->OnTimer();
        EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), text);
    }
}

// The file holds the snapshot a write took, whatever the text became while
// it was written: undoing back to the text stored before leaves the text
// unsaved, and the next tick stores it.
TEST_F(AutoSaveOfChanges, AnUndoDuringAWriteLeavesTheTextUnsaved)
{
    struct Case {
        const char* name;
        void (MainWindow::*write)();
        QString saved;
        void (*edit)(TextEditor& editor);
        QString written;
    } const cases[] = {
        {"Save after deleting a word", &MainWindow::OnFileSave, QStringLiteral("hello world"),
         [](TextEditor& e) { e.select(5, 11), e.textCursor().removeSelectedText(); }, QStringLiteral("hello")},
        {"tick after deleting everything", &MainWindow::OnTimer, QStringLiteral("hello world"),
         [](TextEditor& e) { e.selectAll(), e.textCursor().removeSelectedText(); }, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
        NewDocument(QString::fromLatin1(c.name).replace(QLatin1Char(' '), QLatin1Char('_')), nullptr);
        const QString file = window->documentPath().section(QLatin1Char('/'), -1);
        TypeText(c.saved);
        window->OnFileSave();
        window->WaitForSave();
        c.edit(*window->editor());
        (window.get()->*c.write)();
        ASSERT_TRUE(window->session()->isWriting());
        window->OnEditUndo(); // before the write has ended
        window->WaitForSave();
        EXPECT_EQ(StoredText(ReadFile(file)), c.written);
        EXPECT_EQ(EditorText(), c.saved);
        EXPECT_TRUE(window->isModified());
        window->OnTimer();
        window->WaitForSave();
        EXPECT_EQ(StoredText(ReadFile(file)), c.saved);
        EXPECT_FALSE(window->isModified());
        window->OnEditUndo(); // back to the text the file held before: unsaved again
        EXPECT_TRUE(window->isModified());
    }
}

TEST_F(AutoSaveOfChanges, ASecondSaveWhileOneIsInFlightStoresTheNewerText)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    window->OnToggleWordWrap(); // the layout has nothing to do with it
    TypeText(QString(100000, QChar(u'早')));
    window->OnFileSave();
    TypeText(QStringLiteral("newer"));
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), QStringLiteral("newer"));
    EXPECT_FALSE(window->isModified());
}

} // namespace
} // namespace tavro::test
