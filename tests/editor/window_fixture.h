// A main window driven through its commands, with scripted prompts and a
// settings file of its own in a temporary folder.
#pragma once

#include "main_window.h"
#include "program_state.h"
#include "set_password.h"
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
        g_documentKey.fill(0);
        window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
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
            auto& passwordDialog = dynamic_cast<SetPassword&>(dialog);
            passwordDialog.passwordEdit()->setText(password);
            passwordDialog.OnConfirmPassword();
            return int{QDialog::Rejected};
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
            dynamic_cast<SetPassword&>(dialog).OnCancel();
            return int{QDialog::Rejected};
        });
    }

    // New document at name, with password typed twice (nullptr: the
    // prompt is cancelled). Unsaved changes of the open document are discarded.
    void NewDocument(const QString& name, const char16_t* password)
    {
        AnswerDocumentPrompts(name, password, /*retype=*/true);
        window->OnFileNew();
    }

    void OpenDocument(const QString& name, const char16_t* password)
    {
        AnswerDocumentPrompts(name, password, /*retype=*/false);
        window->OnFileOpen();
    }

    // Shows the window and makes it the active one, so focus can be checked.
    void ShowActive()
    {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // Replaces the active editor's text as the user would, by editing it.
    void TypeText(const QString& text)
    {
        CRichEditCtrl* editor = window->activeEditor();
        editor->selectAll();
        editor->insertPlainText(text);
    }

    QString EditorText() const { return window->activeEditor()->GetWindowText(); }

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
    // Confirms closing the open document (discarding unsaved changes),
    // chooses name, answers the password.
    void AnswerDocumentPrompts(const QString& name, const char16_t* password, bool retype)
    {
        window->WaitForSave(); // whether the text is unsaved depends on the write in flight
        if (window->isDocumentOpen())
            prompts.AnswerMessage(window->isModified() ? MessageAnswer::Discard : MessageAnswer::Yes);
        prompts.AnswerFile(Path(name));
        if (!password)
            CancelPassword();
        else if (retype)
            AnswerPasswordTwice(QString::fromUtf16(password));
        else
            AnswerPassword(QString::fromUtf16(password));
    }

protected:
    std::unique_ptr<CTavroTextEditorDlg> window;
};

inline const QString kLockedTitlePrefix = QStringLiteral("Tavro文本加密 v2.0 - {被锁定无法编辑} - ");
inline const QString kTitlePrefix = QStringLiteral("Tavro文本加密 v2.0 - ");

} // namespace tavro::test
