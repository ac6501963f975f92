// What the editor leaves in its memory once a document is closed: neither
// a password typed nor a key nor the text. The executable is linked with
// the editor's wiping free() (wipe_on_free.cpp), as the editor is.
#include "document_file.h"
#include "qt_prompts.h"
#include "secret_line_edit.h"
#include "secure_memory.h"
#include "support/memory_scan.h"
#include "support/password_key.h"
#include "window_fixture.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstring>

namespace tavro::test {
namespace {

const QString kPasswordDialog = QStringLiteral("密码");

// Prompts with the real password dialog and retype prompt, the rest scripted.
class RealPasswordPrompts : public Prompts {
public:
    MessageAnswer ShowMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon,
                              MessageButtons buttons) override
    {
        return scripted.ShowMessage(owner, text, caption, icon, buttons);
    }
    std::optional<ChosenFile> ChooseFile(QWidget* owner, const FileDialogRequest& request) override
    {
        return scripted.ChooseFile(owner, request);
    }
    std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) override
    {
        return scripted.ChooseColor(owner, initial);
    }
    int RunModal(QDialog& dialog) override { return real.RunModal(dialog); }
    std::optional<QString> AskText(QWidget* owner, const QString& label, const QString& caption, bool masked) override
    {
        return real.AskText(owner, label, caption, masked);
    }

    ScriptedPrompts scripted;
    QtPrompts real;
};

// Once the modal dialog titled title shows, typed (Latin-1) goes into its
// password field as keys, and it is confirmed; the string the keys came
// from is wiped.
void TypeWhenShown(const QString& title, const char* typed)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, title, typed] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->windowTitle() != title)
            return;
        poll->deleteLater();
        poll->stop();
        QString keys = QString::fromLatin1(typed);
        QTest::keyClicks(dialog->findChild<SecretLineEdit*>(), keys);
        SecureWipe(keys.data(), static_cast<std::size_t>(keys.size()) * sizeof(QChar));
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("确定"))
                button->click();
    });
    poll->start(5);
}

// The secret's bytes as UTF-16 (Qt's strings) and as Latin-1 (code page 936, UTF-8).
std::vector<MaskedSecret> Forms(const char* secret)
{
    std::vector<MaskedSecret> forms{MaskedSecret(secret, std::strlen(secret))};
    std::u16string wide(secret, secret + std::strlen(secret));
    forms.emplace_back(wide.data(), wide.size() * sizeof(char16_t));
    SecureWipe(wide.data(), wide.size() * sizeof(char16_t));
    return forms;
}

using MemoryWipe = WindowTest;

std::size_t CountInMemory(const std::vector<MaskedSecret>& forms)
{
    std::size_t found = 0;
    for (const MaskedSecret& form : forms)
        found += form.CountInMemory();
    return found;
}

TEST_F(MemoryWipe, NoPasswordKeyOrTextStaysOnceTheDocumentIsClosed)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory as it was, in quarantine";
#endif
    static const char kFirst[] = "Qz8-first-PIN-5521";
    static const char kSecond[] = "Wk3-second-PIN-0794";
    static const char kStored[] = "Mq7-journal-entry-2291"; // text of the file
    static const char kTyped[] = "Xr5-typed-words-8812";    // text typed, copied and saved
    // The keys, masked at once; the test's own copies wiped.
    DocumentKey key = PasswordKey(u"Qz8-first-PIN-5521");
    {
        std::u16string text(kStored, kStored + std::strlen(kStored));
        text += QStringLiteral(" and more words").repeated(200).toStdU16String(); // heap blocks of all sizes
        const std::vector<std::uint8_t> bytes = EncryptDocument(text, key);
        SecureWipe(text.data(), text.size() * sizeof(char16_t));
        WriteFile(QStringLiteral("a.tvro"),
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    }
    const MaskedSecret firstKey(key.data(), key.size());
    key = PasswordKey(u"Wk3-second-PIN-0794");
    const MaskedSecret secondKey(key.data(), key.size());
    SecureWipe(key.data(), key.size());
    // Made before any secret is typed: the scan itself allocates nothing
    // that could take the place of a block left behind.
    const std::vector<MaskedSecret> secrets[] = {Forms(kFirst), Forms(kSecond), Forms(kStored), Forms(kTyped)};

    // The scan finds what is there.
    QString probe = QStringLiteral("scan-probe-%1").arg(4711);
    EXPECT_EQ(MaskedSecret(probe.constData(), static_cast<std::size_t>(probe.size()) * 2).CountInMemory(), 1u);
    probe.fill(QChar(0));

    // Opened, edited, copied, saved, hidden and shown again, given a new
    // password (typed twice), closed: the real dialogs, typed into by keys.
    RealPasswordPrompts real;
    MainWindow own(real, Path(QStringLiteral("config2")));
    own.OnInitDialog();
    own.show();
    TypeWhenShown(kPasswordDialog, kFirst);
    own.OpenDocumentPath(Path(QStringLiteral("a.tvro")), QStringLiteral("a.tvro"));
    EXPECT_GT(firstKey.CountInMemory(), 0u); // the open document's key
    own.OnUnlock();
    QString typing = QString::fromLatin1(kTyped);
    QTest::keyClicks(own.editor(), typing);
    typing.fill(QChar(0));
    own.OnEditSelectAll();
    own.OnEditCopy();
    own.OnFileSave();
    own.OnHide();
    TypeWhenShown(kPasswordDialog, kFirst);
    own.OnShow();
    EXPECT_FALSE(own.isHidden());
    real.scripted.AnswerMessage(MessageAnswer::Yes); // the text shows right
    TypeWhenShown(QStringLiteral("确认密码"), kSecond);
    TypeWhenShown(kPasswordDialog, kSecond);
    own.OnSettingsPassword(); // the password dialog, then the prompt to type it again
    ASSERT_TRUE(own.WaitForSave());
    EXPECT_GT(secondKey.CountInMemory(), 0u);

    real.scripted.AnswerMessage(MessageAnswer::Yes);
    own.OnFileCloseDoc();
    ASSERT_FALSE(own.isDocumentOpen());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(firstKey.CountInMemory(), 0u);
    EXPECT_EQ(secondKey.CountInMemory(), 0u);
    const char* const names[] = {kFirst, kSecond, kStored, kTyped};
    for (std::size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(CountInMemory(secrets[i]), 0u) << names[i];
    EXPECT_TRUE(real.scripted.AllAnswered());
}

} // namespace
} // namespace tavro::test
