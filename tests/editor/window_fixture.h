// A main window driven through its commands, with scripted prompts and a
// settings file of its own in a temporary folder.
#pragma once

#include "document_file.h"
#include "main_window.h"
#include "password_dialog.h"
#include "secret_line_edit.h"
#include "support/key_making.h"
#include "support/qt_application.h"
#include "support/scripted_prompts.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace tavro::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
    }

    void TearDown() override
    {
        window.reset();
        EXPECT_TRUE(prompts.AllAnswered()) << prompts.Pending() << " scripted answers left unused";
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    // The next password dialog is confirmed with password typed in.
    void AnswerPassword(const QString& password)
    {
        prompts.AnswerModal([password](QDialog& dialog) {
            auto& passwordDialog = dynamic_cast<PasswordDialog&>(dialog);
            passwordDialog.passwordEdit()->setText(password);
            ConfirmAndWait(passwordDialog);
            return dialog.result();
        });
    }

    // The next password dialog is confirmed with password, and the prompt
    // that asks for it again is answered with retyped.
    void AnswerPasswordTwice(const QString& password, const QString& retyped)
    {
        AnswerPassword(password);
        prompts.AnswerText(retyped);
    }
    void AnswerPasswordTwice(const QString& password) { AnswerPasswordTwice(password, password); }

    // The next password dialog is cancelled.
    void CancelPassword()
    {
        prompts.AnswerModal([](QDialog& dialog) {
            dynamic_cast<PasswordDialog&>(dialog).OnCancel();
            return dialog.result();
        });
    }

    // What the test knows of the document open before New or Open, and so
    // which question it expects about closing it.
    enum class Open {
        Nothing,   // no document: no question
        Unchanged, // the Yes/No question, answered Yes
        Unsaved,   // the Save/Discard/Cancel question, answered Discard
    };

    // New document at name, with password typed twice (nullptr: the
    // prompt is cancelled).
    void NewDocument(const QString& name, const char16_t* password, Open open = Open::Nothing)
    {
        AnswerDocumentPrompts(name, password, /*retype=*/true, open);
        window->OnFileNew();
    }

    void OpenDocument(const QString& name, const char16_t* password, Open open = Open::Nothing)
    {
        AnswerDocumentPrompts(name, password, /*retype=*/false, open);
        window->OnFileOpen();
    }

    // Shows the window and makes it the active one, so focus can be checked.
    void ShowActive()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // Replaces the editor's text as the user would, by editing it.
    void TypeText(const QString& text)
    {
        TextEditor* editor = window->editor();
        editor->selectAll();
        editor->insertPlainText(text);
    }

    // The text of the document file's bytes under the all-zero key.
    static QString StoredText(const QByteArray& file)
    {
        const DecryptedDocument document = DecryptDocument(
            {reinterpret_cast<const std::uint8_t*>(file.constData()), static_cast<std::size_t>(file.size())},
            kZeroKey);
        return QString::fromStdU16String(document.text);
    }

    QString EditorText() const { return window->editor()->text(); }

    // The file as it is once the window's write in flight, if any, has ended
    // and its result (questions, messages) has been delivered.
    QByteArray ReadFile(const QString& name) const
    {
        window->WaitForSave();
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void WriteFile(const QString& name, const QByteArray& bytes) const
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
    ScriptedPrompts prompts;

private:
    // Confirms closing the open document as open says, chooses name,
    // answers the password.
    void AnswerDocumentPrompts(const QString& name, const char16_t* password, bool retype, Open open)
    {
        if (open != Open::Nothing)
            prompts.AnswerMessage(open == Open::Unsaved ? MessageAnswer::Discard : MessageAnswer::Yes);
        prompts.AnswerFile(Path(name));
        if (!password)
            CancelPassword();
        else if (retype)
            AnswerPasswordTwice(QString::fromUtf16(password));
        else
            AnswerPassword(QString::fromUtf16(password));
    }

protected:
    std::unique_ptr<MainWindow> window;
};

inline const QString kLockedTitlePrefix = QStringLiteral("Tavro文本加密 v2.0 - {被锁定无法编辑} - ");
inline const QString kTitlePrefix = QStringLiteral("Tavro文本加密 v2.0 - ");

} // namespace tavro::test
