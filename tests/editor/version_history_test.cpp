// Nothing a user stored is destroyed: a doubtful read is protected, every
// write keeps the bytes it replaces, and the history brings them back.
#include "code_page.h"
#include "document_status_bar.h"
#include "support/password_key.h"
#include "version_history_dialog.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>

namespace tavro::test {
namespace {

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

const QString kProtectedQuestion = QStringLiteral(
    "该文档打开时的内容未能通过检查(可能是密码错误,文件已损坏,或它不是Tavro文档),\n"
    "显示的文本可能不是原文.\n"
    "保存后将替换已存储的文档;被替换的文件可以在\"历史版本\"中恢复.\n\n是否仍然保存?");

class History : public WindowTest {
protected:
    // The versions kept of path, newest first.
    std::vector<Version> Versions(const QString& name) const
    {
        std::vector<Version> versions;
        VersionStore(DefaultVersionRoot()).List(QFile::encodeName(Path(name)).toStdString(), versions);
        return versions;
    }
    QByteArray VersionBytes(const QString& name, std::uint64_t number) const
    {
        QByteArray bytes;
        VersionStore(DefaultVersionRoot())
            .Read(QFile::encodeName(Path(name)).toStdString(), number, [&bytes](std::span<const std::uint8_t> piece) {
                bytes.append(reinterpret_cast<const char*>(piece.data()), static_cast<qsizetype>(piece.size()));
            });
        return bytes;
    }
    // The next history dialog chooses the version at row with button.
    void AnswerHistory(int row, QPushButton* (VersionHistoryDialog::*button)() const)
    {
        prompts.AnswerModal([row, button](QDialog& dialog) {
            auto& history = dynamic_cast<VersionHistoryDialog&>(dialog);
            history.list()->setCurrentItem(history.list()->topLevelItem(row));
            (history.*button)()->click();
            return dialog.result();
        });
    }
};

// Short notes read with a wrong key escape every check about a third of the
// time; whatever the judgement, the bytes the save replaced come back.
TEST_F(History, AShortNoteSavedOverWithAWrongPasswordComesBack)
{
    WriteFile(QStringLiteral("pin.tvro"), Encrypt(QStringLiteral("123456"), PasswordKey(u"right")));
    const QByteArray stored = ReadFile(QStringLiteral("pin.tvro"));
    OpenDocument(QStringLiteral("pin.tvro"), u"wrong6");
    const bool judgedDoubtful = window->session()->isProtected();
    EXPECT_EQ(window->documentStatusBar()->Texts().contains(QStringLiteral("受保护")), judgedDoubtful);
    window->OnUnlock();
    if (judgedDoubtful)
        prompts.AnswerMessage(MessageAnswer::Yes);
    if (!LossyCharacters(EditorText().toStdU16String()).empty())
        prompts.AnswerMessage(MessageAnswer::SaveAnyway); // garbage code page 936 cannot hold
    window->OnFileSave();
    window->WaitForSave();
    ASSERT_NE(ReadFile(QStringLiteral("pin.tvro")), stored);

    // 历史版本: the version that save replaced, previewed with its own
    // password, and restored.
    ASSERT_EQ(Versions(QStringLiteral("pin.tvro")).size(), 1u);
    EXPECT_EQ(VersionBytes(QStringLiteral("pin.tvro"), 1), stored);
    AnswerHistory(0, &VersionHistoryDialog::previewButton);
    AnswerPassword(QStringLiteral("right"));
    prompts.AnswerModal([](QDialog& dialog) {
        auto& preview = dynamic_cast<VersionPreviewDialog&>(dialog);
        EXPECT_EQ(preview.textEdit()->text(), QStringLiteral("123456"));
        preview.restoreButton()->click();
        return dialog.result();
    });
    window->OnFileVersions();
    EXPECT_EQ(ReadFile(QStringLiteral("pin.tvro")), stored);
    EXPECT_EQ(EditorText(), QStringLiteral("123456"));
    EXPECT_TRUE(window->isLocked());
    EXPECT_EQ(Versions(QStringLiteral("pin.tvro")).size(), 2u); // the garbage is a version too
}

// A read that is not surely the document is protected, whatever made it so.
TEST_F(History, DoubtfulReadsAreProtectedAndThePasswordCommandAsksFirst)
{
    QByteArray padFlipped = Encrypt(QString(40, QChar(u'文')), kZeroKey);
    padFlipped[0] = static_cast<char>(padFlipped[0] ^ 0x80); // the pad count; the CRC still matches
    const struct {
        const char* name;
        QByteArray file;
        bool crcWarning;
    } doubtful[] = {
        {"pad.tvro", padFlipped, false},
        {"notes.txt", QByteArray("my plain notes, not a document\n"), true},
    };
    for (const auto& c : doubtful) {
        SCOPED_TRACE(c.name);
        WriteFile(QString::fromLatin1(c.name), c.file);
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config"))); // nothing open
        window->OnInitDialog();
        prompts.AnswerFile(Path(QString::fromLatin1(c.name)));
        CancelPassword();
        if (c.crcWarning)
            prompts.AnswerMessage(MessageAnswer::Ok);
        window->OnFileOpen();
        ASSERT_TRUE(window->session()->isProtected());
        EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("受保护")));

        // The Password command: its warning, then the protected question (No by
        // default) before any password dialog; nothing is written.
        prompts.AnswerMessage(MessageAnswer::Yes);
        prompts.AnswerMessage(MessageAnswer::No);
        window->OnSettingsPassword();
        EXPECT_EQ(prompts.shown.back().text, kProtectedQuestion);
        EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::YesNoDefaultNo);
        // Yes, then a cancelled password dialog: still nothing written.
        prompts.AnswerMessage(MessageAnswer::Yes);
        prompts.AnswerMessage(MessageAnswer::Yes);
        CancelPassword();
        window->OnSettingsPassword();
        window->WaitForSave();
        EXPECT_EQ(ReadFile(QString::fromLatin1(c.name)), c.file);
        EXPECT_TRUE(Versions(QString::fromLatin1(c.name)).empty());
    }
}

// Each write that replaces a document keeps exactly one version, holding
// the bytes it replaced; Export and a plain file saved over keep none.
TEST_F(History, EveryWriteKeepsTheBytesItReplaces)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    const struct {
        const char* name;
        std::function<void()> write;
        VersionOrigin origin;
    } writes[] = {
        {"Save", [&] { window->OnFileSave(); }, VersionOrigin::Save},
        {"auto-save", [&] { window->OnTimer(); }, VersionOrigin::AutoSave},
        {"Lock",
         [&] {
             window->OnLock();
             window->WaitForSave();
             window->OnUnlock();
         },
         VersionOrigin::Lock},
        {"Password",
         [&] {
             prompts.AnswerMessage(MessageAnswer::Yes);
             CancelPassword();
             window->OnSettingsPassword();
         },
         VersionOrigin::PasswordChange},
    };
    TypeText(QStringLiteral("first"));
    window->OnFileSave(); // over the empty file New made: nothing to keep
    window->WaitForSave();
    EXPECT_TRUE(Versions(QStringLiteral("a.tvro")).empty());
    int text = 0;
    for (const auto& write : writes) {
        SCOPED_TRACE(write.name);
        const QByteArray before = ReadFile(QStringLiteral("a.tvro"));
        const std::size_t kept = Versions(QStringLiteral("a.tvro")).size();
        TypeText(QStringLiteral("text %1").arg(++text));
        write.write();
        window->WaitForSave();
        const std::vector<Version> versions = Versions(QStringLiteral("a.tvro"));
        ASSERT_EQ(versions.size(), kept + 1);
        EXPECT_EQ(versions.front().origin, write.origin);
        EXPECT_EQ(VersionBytes(QStringLiteral("a.tvro"), versions.front().number), before);
    }

    // Save As over another document keeps it; over a plain file, and Export, keep nothing.
    WriteFile(QStringLiteral("other.tvro"), Encrypt(QStringLiteral("other"), kZeroKey));
    WriteFile(QStringLiteral("plain.txt"), QByteArray("plain text"));
    const QByteArray other = ReadFile(QStringLiteral("other.tvro"));
    prompts.AnswerFile(Path(QStringLiteral("other.tvro")));
    window->OnFileSaveAs();
    window->WaitForSave();
    EXPECT_TRUE(prompts.shown.back().file.overwritePrompt);
    ASSERT_EQ(Versions(QStringLiteral("other.tvro")).size(), 1u);
    EXPECT_EQ(VersionBytes(QStringLiteral("other.tvro"), 1), other);
    prompts.AnswerFile(Path(QStringLiteral("plain.txt")));
    window->OnFileExportTxt();
    window->WaitForSave();
    EXPECT_TRUE(prompts.shown.back().file.overwritePrompt);
    EXPECT_TRUE(Versions(QStringLiteral("plain.txt")).empty());
}

// A store that cannot be written never blocks a save, and says so once.
TEST_F(History, AnUnwritableStoreIsToldOnceAndTheSaveGoesOn)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    WriteFile(QStringLiteral("store"), QByteArray("a file where the store's folder should be"));
    window->session()->setVersionRoot(Path(QStringLiteral("store/versions")));
    for (const QString& text : {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}) {
        TypeText(text);
        window->OnFileSave();
        EXPECT_TRUE(window->WaitForSave());
        EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), text);
        if (text == QStringLiteral("two")) {
            EXPECT_TRUE(window->statusBar()->currentMessage().startsWith(QStringLiteral("无法保存历史版本")));
            window->statusBar()->clearMessage();
        }
    }
    EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty()); // told once
    EXPECT_TRUE(prompts.MessageTexts().empty());
}

// A document another program wrote since the window read it: auto-save
// skips it and says so, a save asks (取消 by default), 另存为 goes to Save As,
// and 覆盖 replaces it with their file kept in the history.
TEST_F(History, AFileAnotherProgramWroteIsAskedAboutAndKeptWhenReplaced)
{
    const QString question = QStringLiteral(
        "文件已被其他程序修改.\n\n"
        "覆盖: 用当前文本替换它(被替换的文件可以在\"历史版本\"中恢复);\n"
        "另存为: 把当前文本保存到另一个文件;\n"
        "取消: 不写入.");
    WriteFile(QStringLiteral("a.tvro"), Encrypt(QStringLiteral("mine"), kZeroKey));
    OpenDocument(QStringLiteral("a.tvro"), nullptr);
    ASSERT_EQ(EditorText(), QStringLiteral("mine"));
    window->OnUnlock();
    const QByteArray theirs = Encrypt(QStringLiteral("theirs"), kZeroKey);
    WriteFile(QStringLiteral("a.tvro"), theirs);
    TypeText(QStringLiteral("mine, edited"));

    window->OnTimer();
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), theirs);
    EXPECT_TRUE(prompts.MessageTexts().empty());
    EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("自动保存: 暂停 (文件已被其他程序修改)")));

    prompts.AnswerMessage(MessageAnswer::Cancel);
    window->OnFileSave();
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), theirs);
    EXPECT_EQ(prompts.shown.back().text, question);
    EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::OverwriteSaveAsCancel);
    EXPECT_TRUE(window->isModified());

    prompts.AnswerMessage(MessageAnswer::SaveAs);
    prompts.AnswerFile(std::nullopt);
    window->OnFileSave();
    EXPECT_EQ(ReadFile(QStringLiteral("a.tvro")), theirs);
    EXPECT_EQ(prompts.shown.back().kind, ShownPrompt::Kind::File);
    EXPECT_TRUE(prompts.AllAnswered());

    prompts.AnswerMessage(MessageAnswer::Overwrite);
    window->OnFileSave();
    EXPECT_EQ(StoredText(ReadFile(QStringLiteral("a.tvro"))), QStringLiteral("mine, edited"));
    ASSERT_FALSE(Versions(QStringLiteral("a.tvro")).empty());
    EXPECT_EQ(VersionBytes(QStringLiteral("a.tvro"), Versions(QStringLiteral("a.tvro")).front().number), theirs);
    EXPECT_FALSE(window->isModified());
    EXPECT_FALSE(window->documentStatusBar()->Texts().contains(QStringLiteral("自动保存: 暂停 (文件已被其他程序修改)")));
}

TEST_F(History, ClearingAsksAndRemovesEveryVersion)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    for (const QString& text : {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}) {
        TypeText(text);
        window->OnFileSave();
        window->WaitForSave();
    }
    ASSERT_EQ(Versions(QStringLiteral("a.tvro")).size(), 2u);
    AnswerHistory(0, &VersionHistoryDialog::clearButton);
    prompts.AnswerMessage(MessageAnswer::No);
    window->OnFileVersions();
    EXPECT_EQ(Versions(QStringLiteral("a.tvro")).size(), 2u);
    AnswerHistory(0, &VersionHistoryDialog::clearButton);
    prompts.AnswerMessage(MessageAnswer::Yes);
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileVersions();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("已清除 2 个历史版本."));
    EXPECT_TRUE(Versions(QStringLiteral("a.tvro")).empty());
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileVersions();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("该文档还没有历史版本."));
}

} // namespace
} // namespace tavro::test
