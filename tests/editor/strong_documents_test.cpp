// Strong documents (".tvrs") in the window: every character kept, a wrong
// password refused, damage never saved over unasked, and the type of a
// document changed by Save As.
#include "document_status_bar.h"
#include "strong_key.h"
#include "strong_stream.h"
#include "support/password_key.h"
#include "window_fixture.h"

#include <QFileInfo>

namespace tavro::test {
namespace {

const QString kEveryCharacter = QStringLiteral("a\U0001F600b\u0915c\n第二行 ok");

std::span<const std::uint8_t> Bytes(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

// The text of a strong document under a password, and how the read ended.
std::pair<QString, StrongCheck> ReadStrong(const QByteArray& file, const char16_t* password)
{
    StrongParameters parameters;
    if (ParseStrongHeader(Bytes(file), parameters) != StrongCheck::Sound)
        return {QString(), StrongCheck::ShortHeader};
    StrongKeyHolder key;
    EXPECT_TRUE(DeriveStrongKeyFromPassword(password, parameters, key));
    QString text;
    StrongReader reader(key, [&text](std::u16string_view piece) {
        text.append(reinterpret_cast<const QChar*>(piece.data()), static_cast<qsizetype>(piece.size()));
    });
    reader.Read(Bytes(file));
    const StrongCheck check = reader.Finish();
    return {text, check};
}

// A strong document made here, cheap to derive.
QByteArray StrongFile(const QString& text, const char16_t* password)
{
    StrongKeyHolder key;
    EXPECT_TRUE(DeriveStrongKeyFromPassword(
        password, NewStrongParameters(StrongKeySource::Password, kStrongMinLimits), key));
    QByteArray file;
    StrongWriter writer(key, [&file](std::span<const std::uint8_t> bytes) {
        file.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    });
    writer.Write(text.toStdU16String());
    writer.Finish();
    return file;
}

using StrongDocuments = WindowTest;

TEST_F(StrongDocuments, KeepEveryCharacterAndOpenWithTheirPasswordOnly)
{
    NewDocument(QStringLiteral("s.tvrs"), u"strong pw");
    EXPECT_EQ(window->session()->format(), DocumentFormat::Strong);
    EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("UTF-8 · 强加密")));
    TypeText(kEveryCharacter);
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_EQ(prompts.MessageTexts().size(), 0u); // no lossy question, ever
    const QByteArray stored = ReadFile(QStringLiteral("s.tvrs"));
    EXPECT_EQ(ReadStrong(stored, u"strong pw"), std::make_pair(kEveryCharacter, StrongCheck::Sound));

    // A wrong password opens nothing: the document cannot be saved over with garbage.
    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    prompts.AnswerFile(Path(QStringLiteral("s.tvrs")));
    AnswerPassword(QStringLiteral("wrong"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnFileOpen();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("密码错误或文件已被修改."));
    EXPECT_FALSE(window->isDocumentOpen());
    EXPECT_EQ(ReadFile(QStringLiteral("s.tvrs")), stored);

    OpenDocument(QStringLiteral("s.tvrs"), u"strong pw");
    EXPECT_EQ(EditorText(), kEveryCharacter);
    EXPECT_TRUE(window->isLocked());
    EXPECT_FALSE(window->isModified());

    // New offers the type chosen last.
    prompts.AnswerMessage(MessageAnswer::Yes);
    prompts.AnswerFile(std::nullopt);
    window->OnFileNew();
    EXPECT_EQ(prompts.shown.back().file.selectedFilter, 1);
}

TEST_F(StrongDocuments, SaveAsChangesTheTypeUnderANewPassword)
{
    NewDocument(QStringLiteral("a.tvro"), u"old");
    TypeText(kEveryCharacter);
    // Up to a strong document: its own password, typed twice; nothing is lost.
    prompts.AnswerFile(Path(QStringLiteral("b.tvrs")));
    AnswerPasswordTwice(QStringLiteral("new"));
    window->OnFileSaveAs();
    EXPECT_TRUE(window->WaitForSave());
    EXPECT_EQ(ReadStrong(ReadFile(QStringLiteral("b.tvrs")), u"new").first, kEveryCharacter);
    EXPECT_EQ(window->session()->format(), DocumentFormat::Strong);
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[b.tvrs]"));
    EXPECT_FALSE(window->isModified());

    // Down to .tvro: a password again, and the question about what code page 936 cannot hold.
    prompts.AnswerFile(Path(QStringLiteral("c.tvro")));
    AnswerPasswordTwice(QStringLiteral("tvro"));
    prompts.AnswerMessage(MessageAnswer::SaveAnyway);
    window->OnFileSaveAs();
    EXPECT_TRUE(window->WaitForSave());
    EXPECT_EQ(prompts.MessageTexts().size(), 1u);
    const QByteArray down = ReadFile(QStringLiteral("c.tvro"));
    EXPECT_EQ(QString::fromStdU16String(DecryptDocument(Bytes(down), PasswordKey(u"tvro")).text),
              QStringLiteral("a??b?c\n第二行 ok"));
    EXPECT_EQ(window->session()->format(), DocumentFormat::Tvro);

    // A cancelled password changes nothing.
    prompts.AnswerFile(Path(QStringLiteral("d.tvrs")));
    CancelPassword();
    window->OnFileSaveAs();
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("d.tvrs"))));
    EXPECT_EQ(window->documentPath(), Path(QStringLiteral("c.tvro")));
}

TEST_F(StrongDocuments, PasswordCommandDerivesUnderAFreshSalt)
{
    WriteFile(QStringLiteral("p.tvrs"), StrongFile(QStringLiteral("secret"), u"first"));
    const QByteArray before = ReadFile(QStringLiteral("p.tvrs"));
    OpenDocument(QStringLiteral("p.tvrs"), u"first");
    prompts.AnswerMessage(MessageAnswer::Yes);
    AnswerPasswordTwice(QStringLiteral("second"));
    window->OnSettingsPassword();
    ASSERT_TRUE(window->WaitForSave());
    const QByteArray after = ReadFile(QStringLiteral("p.tvrs"));
    StrongParameters old, fresh;
    ASSERT_EQ(ParseStrongHeader(Bytes(before), old), StrongCheck::Sound);
    ASSERT_EQ(ParseStrongHeader(Bytes(after), fresh), StrongCheck::Sound);
    EXPECT_NE(old.salt, fresh.salt);
    EXPECT_EQ(ReadStrong(after, u"second"), std::make_pair(QStringLiteral("secret"), StrongCheck::Sound));
    EXPECT_EQ(ReadStrong(after, u"first").second, StrongCheck::WrongKey);
}

TEST_F(StrongDocuments, DamageIsShownReadOnlyOnlyWhenAsked)
{
    const QString text = QString(40000, QChar(u'字')); // 120,000 bytes of UTF-8: two records
    QByteArray file = StrongFile(text, u"pw");
    file[static_cast<qsizetype>(kStrongHeaderSize + kStrongRecordSize + 10)] ^= 1; // in the second record
    WriteFile(QStringLiteral("d.tvrs"), file);

    prompts.AnswerFile(Path(QStringLiteral("d.tvrs")));
    AnswerPassword(QStringLiteral("pw"));
    prompts.AnswerMessage(MessageAnswer::No);
    window->OnFileOpen();
    EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_FALSE(window->isDocumentOpen());

    prompts.AnswerFile(Path(QStringLiteral("d.tvrs")));
    AnswerPassword(QStringLiteral("pw"));
    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileOpen();
    ASSERT_TRUE(window->isDocumentOpen());
    // The first record's text: its last character, cut by the record's end, is not shown.
    const qsizetype whole = static_cast<qsizetype>(kStrongPieceSize / 3);
    EXPECT_EQ(EditorText().left(whole), text.left(whole));
    EXPECT_LE(EditorText().size(), whole + 1);
    EXPECT_TRUE(window->isLocked());
    EXPECT_TRUE(window->session()->isProtected());
}

TEST_F(StrongDocuments, AKeyFileMakesAndOpensThem)
{
    WriteFile(QStringLiteral("key.bin"), QByteArray("strong key file"));
    const auto useKeyFile = [this] {
        prompts.AnswerModal([](QDialog& dialog) {
            auto& password = dynamic_cast<PasswordDialog&>(dialog);
            password.OnKeyFileMode();
            password.OnChooseKeyFile();
            ConfirmAndWait(password);
            return dialog.result();
        });
        prompts.AnswerFile(Path(QStringLiteral("key.bin")));
    };
    prompts.AnswerFile(Path(QStringLiteral("k.tvrs")));
    useKeyFile(); // not asked twice
    window->OnFileNew();
    TypeText(QStringLiteral("by key file"));
    window->OnFileSave();
    window->WaitForSave();
    prompts.AnswerMessage(MessageAnswer::Yes);
    prompts.AnswerFile(Path(QStringLiteral("k.tvrs")));
    useKeyFile();
    window->OnFileOpen();
    EXPECT_EQ(EditorText(), QStringLiteral("by key file"));
}

} // namespace
} // namespace tavro::test
