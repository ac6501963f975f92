#include "document_file.h"
#include "support/failing_save_file.h"
#include "support/key_making.h"
#include "support/password_key.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace tavro::test {
namespace {

const QString kCrcWarning = QStringLiteral(
    "CRC32校验失败,该文件可能被破坏.\n(请勿继续保存和编辑文档,可能会导致部分文本数据丢失.)");

DecryptedDocument Decrypt(const QByteArray& file, const DocumentKey& key)
{
    return DecryptDocument({reinterpret_cast<const std::uint8_t*>(file.constData()),
                            static_cast<std::size_t>(file.size())},
                           key);
}

QString TextOf(const DecryptedDocument& document)
{
    return QString::fromStdU16String(document.text);
}

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// Files in a folder apart from the ones named.
QStringList StrayFiles(const QString& folder, const QStringList& expected)
{
    QStringList stray;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (!expected.contains(name))
            stray << name;
    return stray;
}

// The key the open document is written under.
const DocumentKey& KeyOf(const MainWindow& window)
{
    return window.session()->key().tvro().bytes();
}

using DocumentCommands = WindowTest;

TEST_F(DocumentCommands, NewTypeSaveCloseOpenUnderTheZeroKey)
{
    NewDocument(QStringLiteral("notes.tvro"), nullptr);
    EXPECT_EQ(KeyOf(*window), kZeroKey);
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("notes.tvro"))));
    EXPECT_EQ(ReadFile(QStringLiteral("notes.tvro")).size(), 0); // created at once, empty
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[notes.tvro]"));
    EXPECT_TRUE(window->isDocumentOpen());
    EXPECT_FALSE(window->isLocked());
    EXPECT_TRUE(window->editor()->isEnabled());

    TypeText(QStringLiteral("第一行\n第二行 €"));
    window->OnFileSave();
    const DecryptedDocument stored = Decrypt(ReadFile(QStringLiteral("notes.tvro")), kZeroKey);
    EXPECT_TRUE(stored.crcMatches);
    EXPECT_EQ(TextOf(stored), QStringLiteral("第一行\n第二行 €"));

    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("是否关闭当前文档?\n(请注意保存)"));
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("重要提示"));
    EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::YesNo);
    EXPECT_FALSE(window->isDocumentOpen());
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[没有正在编辑的文件]"));
    EXPECT_EQ(EditorText(), QString());

    OpenDocument(QStringLiteral("notes.tvro"), nullptr);
    EXPECT_EQ(EditorText(), QStringLiteral("第一行\n第二行 €"));
    EXPECT_TRUE(window->isLocked());
    EXPECT_EQ(prompts.MessageTexts().size(), 1u); // only the close confirmation
}

TEST_F(DocumentCommands, OpenWithTheRightPasswordShowsTheTextLocked)
{
    NewDocument(QStringLiteral("name.tvro"), u"密码");
    TypeText(QStringLiteral("机密"));
    window->OnFileSave();
    OpenDocument(QStringLiteral("name.tvro"), u"密码", Open::Unchanged);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tavro文本加密 v2.0 - {被锁定无法编辑} - [name.tvro]"));
    EXPECT_EQ(EditorText(), QStringLiteral("机密"));
    EXPECT_TRUE(window->editor()->isReadOnly());
    EXPECT_TRUE(window->editor()->isEnabled());
}

TEST_F(DocumentCommands, WrongPasswordShowsGarbageWithoutWarning)
{
    WriteFile(QStringLiteral("a.tvro"), Encrypt(QStringLiteral("正确的文本内容, long enough to span blocks"),
                                                tavro::test::PasswordKey(u"right")));
    OpenDocument(QStringLiteral("a.tvro"), u"wrong");
    EXPECT_NE(EditorText(), QStringLiteral("正确的文本内容, long enough to span blocks"));
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_TRUE(window->isLocked());
}

TEST_F(DocumentCommands, DamagedFileWarnsAndStillShowsTheText)
{
    QByteArray file = Encrypt(QStringLiteral("0123456789abcdefSECOND BLOCK...."), kZeroKey);
    file[5 + 16] = static_cast<char>(file[5 + 16] ^ 0x20); // second block
    WriteFile(QStringLiteral("d.tvro"), file);
    prompts.AnswerFile(Path(QStringLiteral("d.tvro")));
    CancelPassword();
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileOpen();
    ASSERT_EQ(prompts.MessageTexts().size(), 1u);
    EXPECT_EQ(prompts.shown.back().text, kCrcWarning);
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("警告"));
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::Warning);
    EXPECT_TRUE(EditorText().startsWith(QStringLiteral("0123456789abcdef")));
    EXPECT_TRUE(window->isDocumentOpen());
    EXPECT_TRUE(window->isLocked());
}

TEST_F(DocumentCommands, ShortFilesOpenWithoutCrash)
{
    // New leaves 0-byte files; 1 to 4 bytes are damaged.
    WriteFile(QStringLiteral("empty.tvro"), QByteArray());
    OpenDocument(QStringLiteral("empty.tvro"), nullptr);
    EXPECT_EQ(EditorText(), QString());
    EXPECT_TRUE(prompts.MessageTexts().empty());
    WriteFile(QStringLiteral("stub.tvro"), QByteArray("\x03\x01", 2));
    prompts.AnswerMessage(MessageAnswer::Yes);
    prompts.AnswerFile(Path(QStringLiteral("stub.tvro")));
    CancelPassword();
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileOpen();
    EXPECT_EQ(prompts.MessageTexts().back(), kCrcWarning);
    EXPECT_EQ(EditorText(), QString());
}

TEST_F(DocumentCommands, FailedOpenLeavesTheCurrentDocumentAsItWas)
{
    NewDocument(QStringLiteral("current.tvro"), u"pw");
    TypeText(QStringLiteral("keep me"));
    const QString title = window->windowTitle();

    QDir(dir.path()).mkdir(QStringLiteral("folder.tvro"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path(QStringLiteral("pipe.tvro"))).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), Path(QStringLiteral("zero.tvro"))));
    {
        // Larger than any text the editor can hold, and no disk space spent.
        QFile sparse(Path(QStringLiteral("huge.tvro")));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
        ASSERT_TRUE(sparse.resize(qint64{2} << 30));
    }
    const QString cannotOpen = QStringLiteral("无法读取该文本,不能向目标地址读写.");
    const QString notAFile = QStringLiteral("该路径不是普通文件,不能作为文档打开.");
    const struct {
        QString target;
        QString message; // how it starts
    } failures[] = {
        {Path(QStringLiteral("missing.tvro")), cannotOpen},
        {Path(QStringLiteral("folder.tvro")), cannotOpen},
        {Path(QStringLiteral("pipe.tvro")), notAFile}, // never waits for a writer
        {Path(QStringLiteral("zero.tvro")), notAFile}, // a device: never ends
        {Path(QStringLiteral("huge.tvro")), QStringLiteral("该文档太大(2048 MB)")},
    };
    for (const auto& [target, message] : failures) {
        SCOPED_TRACE(target.toStdString());
        prompts.AnswerMessage(MessageAnswer::Discard); // unsaved changes: go on without saving
        prompts.AnswerFile(target);
        prompts.AnswerMessage(MessageAnswer::Ok);
        window->OnFileOpen();
        const ShownPrompt& failure = prompts.shown.back();
        EXPECT_TRUE(failure.text.startsWith(message)) << failure.text.toStdString();
        EXPECT_EQ(failure.caption, QStringLiteral("失败"));
        EXPECT_EQ(failure.icon, MessageIcon::Error);
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(window->documentPath(), Path(QStringLiteral("current.tvro")));
        EXPECT_EQ(EditorText(), QStringLiteral("keep me"));
        EXPECT_FALSE(window->isLocked());
    }
    // Still saveable, to its own file, under its own key.
    window->OnFileSave();
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("current.tvro")), tavro::test::PasswordKey(u"pw"))),
              QStringLiteral("keep me"));
}

TEST_F(DocumentCommands, ReadOnlyDocumentCannotBeOpened)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens read-only files for writing; run as another user to check";
    WriteFile(QStringLiteral("ro.tvro"), Encrypt(QStringLiteral("x"), kZeroKey));
    QFile::setPermissions(Path(QStringLiteral("ro.tvro")), QFileDevice::ReadOwner);
    prompts.AnswerFile(Path(QStringLiteral("ro.tvro")));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileOpen();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("无法读取该文本,不能向目标地址读写."));
    EXPECT_FALSE(window->isDocumentOpen());
}

TEST_F(DocumentCommands, SaveIntoAReadOnlyFolderKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders; run as another user to check";
    QDir(dir.path()).mkdir(QStringLiteral("ro"));
    NewDocument(QStringLiteral("ro/doc.tvro"), nullptr);
    TypeText(QStringLiteral("first"));
    window->OnFileSave();
    const QByteArray first = ReadFile(QStringLiteral("ro/doc.tvro"));
    QFile::setPermissions(Path(QStringLiteral("ro")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    TypeText(QStringLiteral("second"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileSave();
    QFile::setPermissions(Path(QStringLiteral("ro")), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("尝试写文件失败!"));
    EXPECT_EQ(ReadFile(QStringLiteral("ro/doc.tvro")), first);
}

TEST_F(DocumentCommands, FailedNewLeavesTheCurrentDocumentAsItWas)
{
    NewDocument(QStringLiteral("first.tvro"), nullptr); // its 0-byte file stays open for the first save
    TypeText(QStringLiteral("draft"));
    prompts.AnswerMessage(MessageAnswer::Discard); // unsaved changes: go on without saving
    prompts.AnswerFile(Path(QStringLiteral("no/such/folder/x.tvro")));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileNew();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("无法创建该文本,不能向目标地址写入."));
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("失败"));
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::Error);
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[first.tvro]"));
    EXPECT_EQ(EditorText(), QStringLiteral("draft"));
    window->OnFileSave();
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("first.tvro")), kZeroKey)), QStringLiteral("draft"));
}

TEST_F(DocumentCommands, SaveWithoutDocumentReportsIt)
{
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileSave();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("没有文件被打开."));
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("错误"));
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::None);
}

TEST_F(DocumentCommands, FailedSaveKeepsTheLastGoodCopy)
{
    NewDocument(QStringLiteral("doc.tvro"), u"k");
    TypeText(QStringLiteral("good copy"));
    window->OnFileSave();
    const QByteArray good = ReadFile(QStringLiteral("doc.tvro"));

    TypeText(QString(40000, QChar(u'字')));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->setWriterFactory(FailingWriters(4096)); // the disk fills up part-way through the write
    window->OnFileSave();
    window->WaitForSave();
    window->setWriterFactory(nullptr);
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("尝试写文件失败!"));
    EXPECT_EQ(prompts.shown.back().caption, ApplicationName());
    EXPECT_EQ(ReadFile(QStringLiteral("doc.tvro")), good);
    EXPECT_TRUE(StrayFiles(dir.path(), {QStringLiteral("doc.tvro")}).isEmpty());

    // A folder that disappeared: the message again, nothing else.
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    NewDocument(QStringLiteral("sub/gone.tvro"), nullptr, Open::Unsaved);
    QDir(Path(QStringLiteral("sub"))).removeRecursively();
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("尝试写文件失败!"));
}

// The write runs on a worker thread: Save returns at once, and the failure
// comes back through the event loop with the message and the old file kept.
TEST_F(DocumentCommands, SaveFailingOffTheUiThreadStillReportsAndKeepsTheOldFile)
{
    NewDocument(QStringLiteral("doc.tvro"), u"k");
    TypeText(QStringLiteral("good copy"));
    window->OnFileSave();
    const QByteArray good = ReadFile(QStringLiteral("doc.tvro"));

    TypeText(QString(40000, QChar(u'字')));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->setWriterFactory(FailingWriters(4096));
    window->OnFileSave();
    EXPECT_TRUE(window->session()->isWriting());
    EXPECT_TRUE(prompts.MessageTexts().empty()) << "reported before the write ended";
    window->OnTimer(); // no second write beside the first
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->session()->isWriting(); }, 20000));
    EXPECT_EQ(prompts.MessageTexts(), std::vector<QString>{QStringLiteral("尝试写文件失败!")});
    EXPECT_EQ(prompts.shown.back().caption, ApplicationName());
    EXPECT_EQ(ReadFile(QStringLiteral("doc.tvro")), good);
    EXPECT_TRUE(StrayFiles(dir.path(), {QStringLiteral("doc.tvro")}).isEmpty());
    EXPECT_TRUE(window->isModified()); // the next tick tries again
}

// Closing the window while the worker writes waits for the write: a stored
// text closes without a question; a failed one shows the message and asks.
TEST_F(DocumentCommands, ClosingDuringABackgroundSaveWaitsForIt)
{
    const QString big(200000, QChar(u'文'));
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(big);
    window->OnFileSave();
    ASSERT_TRUE(window->session()->isWriting());
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isDocumentOpen());
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), big);

    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    NewDocument(QStringLiteral("b.tvro"), nullptr);
    TypeText(big);
    prompts.AnswerMessage(MessageAnswer::Ok);
    prompts.AnswerMessage(MessageAnswer::Cancel);
    window->setWriterFactory(FailingWriters(4096));
    window->OnFileSave();
    ASSERT_TRUE(window->session()->isWriting());
    EXPECT_FALSE(window->close());
    EXPECT_EQ(prompts.MessageTexts(), (std::vector<QString>{QStringLiteral("尝试写文件失败!"),
                                                            QStringLiteral("是否关闭当前文档?\n(请注意保存)")}));
    EXPECT_EQ(ReadFile(QStringLiteral("b.tvro")).size(), 0);
    EXPECT_TRUE(window->isModified());
}

TEST_F(DocumentCommands, SaveAsWritesTheNewFileAndLeavesTheOldOne)
{
    NewDocument(QStringLiteral("old.tvro"), u"pw");
    TypeText(QStringLiteral("version one"));
    window->OnFileSave();
    const QByteArray oldFile = ReadFile(QStringLiteral("old.tvro"));
    TypeText(QStringLiteral("version two"));

    prompts.AnswerFile(Path(QStringLiteral("new")));
    window->OnFileSaveAs();
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("另存为"));
    EXPECT_TRUE(prompts.shown.back().file.overwritePrompt); // another document is not replaced unasked
    EXPECT_EQ(ReadFile(QStringLiteral("old.tvro")), oldFile);
    const DocumentKey key = tavro::test::PasswordKey(u"pw");
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("new.tvro")), key)), QStringLiteral("version two"));
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[new.tvro]"));

    TypeText(QStringLiteral("version three"));
    window->OnFileSave();
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("new.tvro")), key)), QStringLiteral("version three"));
    EXPECT_EQ(ReadFile(QStringLiteral("old.tvro")), oldFile);
}

TEST_F(DocumentCommands, SaveAsCaptionShowsTheLockMarkerOnlyWhileLocked)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    prompts.AnswerFile(Path(QStringLiteral("b.tvro")));
    window->OnFileSaveAs();
    window->WaitForSave(); // the document is the new file's once written
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[b.tvro]"));
    window->OnLock();
    prompts.AnswerFile(Path(QStringLiteral("c.tvro")));
    window->OnFileSaveAs();
    window->WaitForSave();
    EXPECT_EQ(window->windowTitle(), kLockedTitlePrefix + QStringLiteral("[c.tvro]"));
    EXPECT_TRUE(window->isLocked());
}

TEST_F(DocumentCommands, SaveAsToAnUnwritablePlaceKeepsThePath)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    prompts.AnswerFile(Path(QStringLiteral("missing/b.tvro")));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileSaveAs();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("无法创建该文本,不能向目标地址写入."));
    EXPECT_EQ(window->documentPath(), Path(QStringLiteral("a.tvro")));
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[a.tvro]"));
}

TEST_F(DocumentCommands, ExportWritesCodePageTextWithCrLf)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("中文\n€ x\u0E01"));
    prompts.AnswerMessage(MessageAnswer::SaveAnyway); // asked for the document by Lock
    window->OnLock(); // export works while locked
    prompts.AnswerFile(Path(QStringLiteral("out")));
    prompts.AnswerMessage(MessageAnswer::SaveAnyway); // and for the exported copy by Export
    window->OnFileExportTxt();
    window->WaitForSave();
    const ShownPrompt& chooser = prompts.shown[prompts.shown.size() - 2];
    EXPECT_EQ(chooser.caption, QStringLiteral("导出为TXT"));
    EXPECT_EQ(chooser.file.filter, QStringLiteral("文本文件(*.txt)"));
    EXPECT_EQ(chooser.file.defaultSuffix, QStringLiteral("txt"));
    EXPECT_EQ(ReadFile(QStringLiteral("out.txt")), QByteArray("\xD6\xD0\xCE\xC4\r\n\x80 x?"));

    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    NewDocument(QStringLiteral("b.tvro"), nullptr);
    prompts.AnswerFile(Path(QStringLiteral("empty.txt")));
    window->OnFileExportTxt();
    window->WaitForSave();
    EXPECT_TRUE(QFileInfo::exists(Path(QStringLiteral("empty.txt"))));
    EXPECT_EQ(ReadFile(QStringLiteral("empty.txt")).size(), 0);
}

TEST_F(DocumentCommands, PasswordCommandRekeysOnlyAfterYes)
{
    NewDocument(QStringLiteral("a.tvro"), u"old");
    TypeText(QStringLiteral("secret"));
    window->OnFileSave();
    const QByteArray before = ReadFile(QStringLiteral("a.tvro"));

    prompts.AnswerMessage(MessageAnswer::No);
    window->OnSettingsPassword();
    const ShownPrompt& warning = prompts.shown.back();
    EXPECT_EQ(warning.text, QStringLiteral("警告:重设密码前必须确认文本显示的正确性.\n       如果显示错误并修改后结果将不可逆.\n\n\n文本是否显示正确?"));
    EXPECT_EQ(warning.caption, QStringLiteral("重要事项"));
    EXPECT_EQ(warning.icon, MessageIcon::Warning);
    EXPECT_EQ(warning.buttons, MessageButtons::YesNo);
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), before);
    EXPECT_EQ(KeyOf(*window), tavro::test::PasswordKey(u"old"));

    prompts.AnswerMessage(MessageAnswer::Yes);
    AnswerPasswordTwice(QStringLiteral("new"));
    window->OnSettingsPassword();
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("a.tvro")), tavro::test::PasswordKey(u"new"))),
              QStringLiteral("secret"));

    // Cancelling the dialog keeps the key and saves again under it.
    prompts.AnswerMessage(MessageAnswer::Yes);
    CancelPassword();
    TypeText(QStringLiteral("secret 2"));
    window->OnSettingsPassword();
    EXPECT_EQ(TextOf(Decrypt(ReadFile(QStringLiteral("a.tvro")), tavro::test::PasswordKey(u"new"))),
              QStringLiteral("secret 2"));
}

TEST_F(DocumentCommands, NoAutoSaveWhileACommandWaitsForTheUser)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("document A"));
    window->OnFileSave();
    const QByteArray fileA = ReadFile(QStringLiteral("a.tvro"));
    const QByteArray fileB = Encrypt(QStringLiteral("document B"), tavro::test::PasswordKey(u"b"));
    WriteFile(QStringLiteral("b.tvro"), fileB);

    // Ticks in the confirmation, the file chooser and the password dialog of
    // Open: none may write A's text into B, nor save A meanwhile.
    auto tick = [this] { window->OnTimer(); };
    prompts.AnswerMessage(MessageAnswer::Yes, tick);
    prompts.AnswerFile(Path(QStringLiteral("b.tvro")), tick);
    prompts.AnswerModal([&](QDialog& dialog) {
        tick();
        auto& password = dynamic_cast<PasswordDialog&>(dialog);
        password.passwordEdit()->setText(QStringLiteral("b"));
        password.OnConfirmPassword();
        return dialog.result();
    });
    window->OnFileOpen();
    EXPECT_EQ(ReadFile(QStringLiteral("b.tvro")), fileB);
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), fileA);
    EXPECT_EQ(EditorText(), QStringLiteral("document B"));
}

TEST_F(DocumentCommands, AFailingAutoSaveShowsOneMessageAtATime)
{
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    NewDocument(QStringLiteral("sub/a.tvro"), nullptr);
    TypeText(QStringLiteral("unsaved")); // only a changed text is auto-saved
    QDir(Path(QStringLiteral("sub"))).removeRecursively();
    prompts.AnswerMessage(MessageAnswer::Ok, [this] { window->OnTimer(); });
    window->OnTimer();
    EXPECT_EQ(prompts.MessageTexts(), std::vector<QString>{QStringLiteral("尝试写文件失败!")});
}

TEST_F(DocumentCommands, FileDialogsUseTheDocumentFilter)
{
    prompts.AnswerFile(std::nullopt);
    window->OnFileNew();
    prompts.AnswerFile(std::nullopt);
    window->OnFileOpen();
    ASSERT_EQ(prompts.shown.size(), 2u);
    const FileDialogRequest& create = prompts.shown[0].file;
    EXPECT_EQ(create.mode, FileDialogMode::Save);
    EXPECT_EQ(create.title, QStringLiteral("选择一个存放文件的位置"));
    EXPECT_TRUE(create.overwritePrompt);
    EXPECT_EQ(create.filters, (QStringList{QStringLiteral("Tavro 加密文档 (*.tvro)"),
                                           QStringLiteral("Tavro 强加密文档 (*.tvrs)")}));
    EXPECT_EQ(create.selectedFilter, 0); // .tvro the first time
    const FileDialogRequest& open = prompts.shown[1].file;
    EXPECT_EQ(open.mode, FileDialogMode::Open);
    EXPECT_EQ(open.filters.value(0), QStringLiteral("Tavro 文档 (*.tvro *.tvrs)"));
    EXPECT_FALSE(window->isDocumentOpen());
}

} // namespace
} // namespace tavro::test

namespace tavro::test {
namespace {

TEST_F(DocumentCommands, TypedPasswordIsAskedTwiceAndAMismatchGoesBackToTheDialog)
{
    prompts.AnswerFile(Path(QStringLiteral("a.tvro")));
    AnswerPasswordTwice(QStringLiteral("secret"), QStringLiteral("secert"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    AnswerPassword(QStringLiteral("secret")); // the dialog again
    prompts.AnswerText(std::nullopt);         // cancelling the second prompt: the dialog again
    AnswerPasswordTwice(QStringLiteral("secret"));
    window->OnFileNew();
    EXPECT_EQ(KeyOf(*window), PasswordKey(u"secret"));
    const ShownPrompt& again = prompts.shown[2];
    EXPECT_EQ(again.kind, ShownPrompt::Kind::Text);
    EXPECT_EQ(again.text, QStringLiteral("请再次输入密码:"));
    EXPECT_EQ(again.caption, QStringLiteral("确认密码"));
    EXPECT_TRUE(again.masked);
    EXPECT_EQ(prompts.shown[3].text, QStringLiteral("两次输入的密码不一致,请重新设置密码."));
    EXPECT_EQ(prompts.shown[3].caption, QStringLiteral("警告"));
    EXPECT_EQ(prompts.shown[3].icon, MessageIcon::Warning);

    // The Password command: a mismatch, then a cancelled dialog keeps the old key.
    prompts.AnswerMessage(MessageAnswer::Yes);
    AnswerPasswordTwice(QStringLiteral("new"), QStringLiteral("nwe"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    CancelPassword();
    window->OnSettingsPassword();
    EXPECT_EQ(KeyOf(*window), PasswordKey(u"secret"));
    EXPECT_TRUE(Decrypt(ReadFile(QStringLiteral("a.tvro")), PasswordKey(u"secret")).textRoundTrips);
}

TEST_F(DocumentCommands, KeyFilesAreNotAskedTwice)
{
    WriteFile(QStringLiteral("key.bin"), QByteArray("key file bytes"));
    prompts.AnswerFile(Path(QStringLiteral("a.tvro")));
    prompts.AnswerModal([](QDialog& dialog) {
        auto& password = dynamic_cast<PasswordDialog&>(dialog);
        password.OnKeyFileMode();
        password.OnChooseKeyFile();
        ConfirmAndWait(password);
        return dialog.result();
    });
    prompts.AnswerFile(Path(QStringLiteral("key.bin")));
    window->OnFileNew();
    EXPECT_NE(KeyOf(*window), kZeroKey);
    EXPECT_TRUE(window->isDocumentOpen());
}

TEST_F(DocumentCommands, CancelledPasswordOfTheNextNewOrOpenLeavesTheZeroKey)
{
    NewDocument(QStringLiteral("a.tvro"), u"pw");
    window->OnFileSave();
    for (const bool open : {false, true}) {
        OpenDocument(QStringLiteral("a.tvro"), u"pw", Open::Unchanged);
        ASSERT_EQ(KeyOf(*window), PasswordKey(u"pw"));
        if (open)
            OpenDocument(QStringLiteral("a.tvro"), nullptr, Open::Unchanged);
        else
            NewDocument(QStringLiteral("b.tvro"), nullptr, Open::Unchanged);
        EXPECT_EQ(KeyOf(*window), kZeroKey) << (open ? "Open" : "New");
    }
}

// The permission bits of a file, as the system has them.
unsigned ModeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777u : 0u;
}

TEST_F(DocumentCommands, ExportedTextIsTheOwnersAloneUnlessTheFileExisted)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("plain"));
    WriteFile(QStringLiteral("shared.txt"), QByteArray("old"));
    const auto shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(Path(QStringLiteral("shared.txt")), shared));
    for (const QString& name : {QStringLiteral("new.txt"), QStringLiteral("shared.txt")}) {
        prompts.AnswerFile(Path(name));
        window->OnFileExportTxt();
        window->WaitForSave();
        EXPECT_EQ(ReadFile(name), QByteArray("plain"));
    }
    EXPECT_EQ(ModeOf(Path(QStringLiteral("new.txt"))), 0600u);
    EXPECT_EQ(ModeOf(Path(QStringLiteral("shared.txt"))), 0644u);
}

} // namespace
} // namespace tavro::test
