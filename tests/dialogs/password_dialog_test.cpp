#include "password_dialog.h"
#include "secret_line_edit.h"

#include "support/password_key.h"
#include "support/qt_application.h"
#include "support/scripted_prompts.h"

#include "support/dialog_harness.h"
#include "support/key_making.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QInputMethodEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

using tavro::DocumentKey;
using tavro::MessageButtons;
using tavro::MessageIcon;
using tavro::PasswordDialog;
using tavro::test::ScriptedPrompts;
using tavro::test::ShownPrompt;

namespace {

// Expected keys are MD5 digests computed independently (md5sum).
constexpr const char* kAbc = "900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kEmpty = "d41d8cd98f00b204e9800998ecf8427e";
constexpr const char* kMiMa = "d2293e30f0c964c5f6242486aa8a483c";       // "密码" in code page 936
constexpr const char* kSpaced = "b974a5b92e7c0d2421ea8b6b5cb52260";     // " a b "
constexpr const char* kKeyFileBytes = "55603e52a0532ea1b777a3ede206ea7a"; // kKeyFileContent
constexpr const char* kSecondKey = "f48cab8193e36d585b0822d82617e8f5";  // "second key\n"
const QByteArray kKeyFileContent("key file bytes\0\xff\r\n", 18);

const QString kNotSet = QStringLiteral("(未设置)");
const QString kOpenFailure = QStringLiteral("无法打开文件(是否已被删除).");
const QString kOpenFailureCaption = QStringLiteral("读取失败");

std::string Text(const DocumentKey& key) { return std::string(key.begin(), key.end()); }

// The key the dialog hands over, as text; "none" when it has none.
std::string KeyText(PasswordDialog& dialog)
{
    const std::optional<tavro::SessionKey> key = dialog.takeKey();
    return key ? Text(key->tvro().bytes()) : "none";
}

// A dialog on screen with scripted prompts, as a caller runs it.
using tavro::test::kNoResult;
using Harness = tavro::test::DialogHarness<PasswordDialog, ScriptedPrompts>;

class PasswordDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString WriteFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(bytes);
        return path;
    }

    QTemporaryDir dir;
};

// The message of a key file that cannot be read, exactly.
void ExpectOpenFailureShown(const ScriptedPrompts& prompts)
{
    ASSERT_FALSE(prompts.shown.empty());
    const ShownPrompt& box = prompts.shown.back();
    EXPECT_EQ(box.kind, ShownPrompt::Kind::Message);
    EXPECT_EQ(box.text, kOpenFailure);
    EXPECT_EQ(box.caption, kOpenFailureCaption);
    EXPECT_EQ(box.icon, MessageIcon::Error);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
}

QGroupBox* GroupTitled(const PasswordDialog& dialog, const QString& title)
{
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>())
        if (box->title() == title)
            return box;
    return nullptr;
}

} // namespace

// ---- Opening state and look -----------------------------------------------------

TEST_F(PasswordDialogTest, OpensInTypedModeWithItsTextsAndNoDefaultButton)
{
    Harness h;
    PasswordDialog& d = h.dialog;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("密码"));
    EXPECT_EQ(d.typedModeButton()->text(), QStringLiteral("键盘输入密码"));
    EXPECT_EQ(d.keyFileModeButton()->text(), QStringLiteral("某个文件作为密码"));
    EXPECT_NE(GroupTitled(d, QStringLiteral("文本密码(可以为空)")), nullptr);
    EXPECT_NE(GroupTitled(d, QStringLiteral("选择一个文件")), nullptr);
    EXPECT_EQ(d.chooseFileButton()->text(), QStringLiteral("文件..."));
    EXPECT_EQ(d.confirmButton()->text(), QStringLiteral("确定"));
    EXPECT_EQ(d.cancelButton()->text(), QStringLiteral("取消"));

    EXPECT_TRUE(d.typedModeButton()->isChecked());
    EXPECT_FALSE(d.keyFileModeButton()->isChecked());
    EXPECT_TRUE(d.passwordEdit()->isEnabled());
    EXPECT_TRUE(d.passwordEdit()->isEmpty());
    EXPECT_EQ(d.passwordEdit()->echoMode(), QLineEdit::Normal); // shown as typed
    EXPECT_FALSE(d.chooseFileButton()->isEnabled());
    EXPECT_EQ(d.keyFileLabel()->text(), kNotSet);
    EXPECT_TRUE(d.keyFilePath().isEmpty());
    EXPECT_EQ(d.focusWidget(), d.passwordEdit());

    for (QPushButton* button : d.findChildren<QPushButton*>()) {
        SCOPED_TRACE(button->text().toStdString());
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }

    // The disabled "文件..." opens no chooser (an unexpected prompt fails the test).
    d.chooseFileButton()->click();
    EXPECT_TRUE(h.prompts.shown.empty());
}

TEST_F(PasswordDialogTest, KeepsItsArrangementAtAFixedSizeWithNothingClipped)
{
    Harness h;
    PasswordDialog& d = h.dialog;
    QGroupBox* typedGroup = GroupTitled(d, QStringLiteral("文本密码(可以为空)"));
    QGroupBox* fileGroup = GroupTitled(d, QStringLiteral("选择一个文件"));
    ASSERT_TRUE(typedGroup && fileGroup);
    d.layout()->activate();

    // Not resizable.
    const QSize size = d.size();
    EXPECT_EQ(d.minimumSize(), size);
    EXPECT_EQ(d.maximumSize(), size);

    // Group boxes side by side, equally wide, each mode's radio button above
    // its box; in the file box the name left of "文件...".
    const QRect typed = typedGroup->geometry();
    const QRect file = fileGroup->geometry();
    EXPECT_EQ(typed.top(), file.top());
    EXPECT_EQ(typed.width(), file.width());
    EXPECT_LT(typed.right(), file.left());
    const QRect typedRadio = d.typedModeButton()->geometry();
    const QRect fileRadio = d.keyFileModeButton()->geometry();
    EXPECT_LT(typedRadio.bottom(), typed.top());
    EXPECT_LT(fileRadio.bottom(), file.top());
    EXPECT_TRUE(typed.contains(QPoint(typedRadio.center().x(), typed.center().y())));
    EXPECT_TRUE(file.contains(QPoint(fileRadio.center().x(), file.center().y())));
    EXPECT_LT(d.keyFileLabel()->geometry().right(), d.chooseFileButton()->geometry().left());

    // "确定" left of "取消", both below the boxes.
    const QRect confirm = d.confirmButton()->geometry();
    const QRect cancel = d.cancelButton()->geometry();
    EXPECT_LT(confirm.right(), cancel.left());
    EXPECT_GT(confirm.top(), typed.bottom());
    EXPECT_EQ(confirm.top(), cancel.top());

    // Every text fits its control, and every control the dialog.
    for (QWidget* w : d.findChildren<QWidget*>()) {
        SCOPED_TRACE(w->metaObject()->className());
        EXPECT_TRUE(d.rect().contains(QRect(w->mapTo(&d, QPoint()), w->size())));
    }
    for (QAbstractButton* b : d.findChildren<QAbstractButton*>())
        EXPECT_TRUE(b->size().expandedTo(b->sizeHint()) == b->size()) << b->text().toStdString();
    for (QGroupBox* g : {typedGroup, fileGroup})
        EXPECT_LT(g->fontMetrics().horizontalAdvance(g->title()), g->width());
    EXPECT_GE(d.keyFileLabel()->width(),
              d.keyFileLabel()->fontMetrics().horizontalAdvance(kNotSet));

    // A long key file name is cut at the label; the dialog keeps its size.
    d.keyFileModeButton()->click();
    h.prompts.AnswerFile(WriteFile(QString(200, QLatin1Char('k')), "x"));
    d.chooseFileButton()->click();
    d.layout()->activate();
    EXPECT_EQ(d.size(), size);
}

// ---- Typed password -------------------------------------------------------------

TEST_F(PasswordDialogTest, TypedPasswordGivesItsKeyAndCloses)
{
    struct Case {
        QString password;
        const char* key;
    };
    const Case cases[] = {
        {QStringLiteral("abc"), kAbc},
        {QString(), kEmpty}, // may be empty: the key of nothing, not the zero key
        {QStringLiteral("密码"), kMiMa},
        {QStringLiteral(" a b "), kSpaced}, // taken as typed, spaces included
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password.toStdString());
        Harness h;
        h.dialog.passwordEdit()->setText(c.password);
        tavro::test::ConfirmAndWait(h.dialog);
        EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
        EXPECT_TRUE(h.dialog.typedPasswordConfirmed());
        EXPECT_TRUE(h.dialog.passwordEdit()->isEmpty()); // wiped once the key is made
        EXPECT_EQ(KeyText(h.dialog), c.key);
        EXPECT_EQ(KeyText(h.dialog), "none"); // handed over once
        EXPECT_TRUE(h.prompts.shown.empty());
    }
}

TEST_F(PasswordDialogTest, ModalRunEndsAcceptedAfterConfirming)
{
    ScriptedPrompts prompts;
    PasswordDialog dialog(prompts);
    QTimer::singleShot(0, &dialog, [&] {
        dialog.passwordEdit()->setText(QStringLiteral("abc"));
        dialog.confirmButton()->click();
    });
    QTimer::singleShot(10000, &dialog, [&] { dialog.done(kNoResult); }); // watchdog only
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(KeyText(dialog), kAbc);
}

// ---- Key file -------------------------------------------------------------------

TEST_F(PasswordDialogTest, KeyFileAsChosenGivesTheDigestOfItsBytes)
{
    // On Linux a backslash is an ordinary character of a file name: the
    // chosen file must be read, not one named with the backslash doubled.
    const QString name = QStringLiteral("钥匙\\文件 1.key");
    const QString path = WriteFile(name, kKeyFileContent);
    WriteFile(QStringLiteral("钥匙\\\\文件 1.key"), "decoy");

    Harness h;
    h.dialog.keyFileModeButton()->click();
    h.prompts.AnswerFile(path);
    h.dialog.chooseFileButton()->click();
    h.prompts.AnswerFile(std::nullopt); // a second chooser, cancelled, keeps the choice
    h.dialog.chooseFileButton()->click();

    ASSERT_EQ(h.prompts.shown.size(), 2u);
    const tavro::FileDialogRequest& request = h.prompts.shown[0].file;
    EXPECT_EQ(request.mode, tavro::FileDialogMode::Open);
    EXPECT_TRUE(request.filter.isEmpty()); // all files
    EXPECT_TRUE(request.defaultSuffix.isEmpty());
    EXPECT_EQ(h.dialog.keyFileLabel()->text(), name); // the name alone, no folder
    EXPECT_EQ(h.dialog.keyFilePath(), path);

    tavro::test::ConfirmAndWait(h.dialog);
    EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    EXPECT_FALSE(h.dialog.typedPasswordConfirmed());
    EXPECT_EQ(KeyText(h.dialog), kKeyFileBytes);
    EXPECT_EQ(h.prompts.shown.size(), 2u);
}

TEST_F(PasswordDialogTest, SwitchingModesDiscardsTheOtherModesInput)
{
    Harness h;
    PasswordDialog& d = h.dialog;
    d.passwordEdit()->setText(QStringLiteral("secret"));

    d.keyFileModeButton()->click();
    EXPECT_TRUE(d.keyFileModeButton()->isChecked());
    EXPECT_FALSE(d.typedModeButton()->isChecked());
    EXPECT_TRUE(d.passwordEdit()->isEmpty());
    EXPECT_FALSE(d.passwordEdit()->isEnabled());
    EXPECT_TRUE(d.chooseFileButton()->isEnabled());
    EXPECT_EQ(d.keyFileLabel()->text(), kNotSet);

    const QString path = WriteFile(QStringLiteral("a.key"), kKeyFileContent);
    h.prompts.AnswerFile(path);
    d.chooseFileButton()->click();
    EXPECT_EQ(d.keyFileLabel()->text(), QStringLiteral("a.key"));

    d.typedModeButton()->click();
    EXPECT_TRUE(d.typedModeButton()->isChecked());
    EXPECT_FALSE(d.keyFileModeButton()->isChecked());
    EXPECT_EQ(d.keyFileLabel()->text(), kNotSet);
    EXPECT_TRUE(d.keyFilePath().isEmpty());
    EXPECT_TRUE(d.passwordEdit()->isEnabled());
    EXPECT_FALSE(d.chooseFileButton()->isEnabled());

    // Back in key-file mode the earlier file is forgotten: confirming fails.
    d.keyFileModeButton()->click();
    EXPECT_EQ(d.keyFileLabel()->text(), kNotSet);
    h.prompts.AnswerMessage(tavro::MessageAnswer::Ok);
    tavro::test::ConfirmAndWait(d);
    ExpectOpenFailureShown(h.prompts);
    EXPECT_EQ(KeyText(h.dialog), "none");
    EXPECT_TRUE(h.dialog.isVisible());
}

TEST_F(PasswordDialogTest, UnopenableKeyFileIsReportedAndTheDialogStaysOpen)
{
    const QString deleted = WriteFile(QStringLiteral("gone.key"), kKeyFileContent);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.key")));
    struct Case {
        const char* what;
        std::optional<QString> chosen; // nothing: no file chosen
    };
    const Case cases[] = {
        {"deleted after choosing", deleted},
        {"none chosen", std::nullopt},
        {"a folder", dir.filePath(QStringLiteral("folder.key"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        h.dialog.keyFileModeButton()->click();
        if (c.chosen) {
            h.prompts.AnswerFile(*c.chosen);
            h.dialog.chooseFileButton()->click();
        }
        QFile::remove(deleted);

        h.prompts.AnswerMessage(tavro::MessageAnswer::Ok);
        tavro::test::ConfirmAndWait(h.dialog);
        ExpectOpenFailureShown(h.prompts);
        EXPECT_TRUE(h.prompts.AllAnswered());
        EXPECT_TRUE(h.dialog.isVisible());
        EXPECT_EQ(h.dialog.result(), kNoResult);
        EXPECT_EQ(KeyText(h.dialog), "none");

        // The user chooses a file that opens, and the dialog goes on from there.
        h.prompts.AnswerFile(WriteFile(QStringLiteral("second.key"), "second key\n"));
        h.dialog.chooseFileButton()->click();
        tavro::test::ConfirmAndWait(h.dialog);
        EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
        EXPECT_EQ(KeyText(h.dialog), kSecondKey);
    }
}

// ---- Closing without confirming -------------------------------------------------

TEST_F(PasswordDialogTest, CancelAndTheCloseBoxGiveNoKey)
{
    {
        SCOPED_TRACE("取消");
        Harness h;
        h.dialog.passwordEdit()->setText(QStringLiteral("abc"));
        h.dialog.cancelButton()->click();
        EXPECT_TRUE(h.ClosedWithCancelCode());
        EXPECT_EQ(KeyText(h.dialog), "none");
    }
    {
        SCOPED_TRACE("close box");
        Harness h;
        h.dialog.keyFileModeButton()->click();
        h.prompts.AnswerFile(WriteFile(QStringLiteral("c.key"), kKeyFileContent));
        h.dialog.chooseFileButton()->click();
        EXPECT_TRUE(h.dialog.close());
        EXPECT_TRUE(h.ClosedWithCancelCode());
        EXPECT_EQ(KeyText(h.dialog), "none");
        EXPECT_EQ(h.prompts.shown.size(), 1u); // the chooser only
    }
}

TEST_F(PasswordDialogTest, EnterAndEscapeDoNothingAnywhere)
{
    Harness h;
    PasswordDialog& d = h.dialog;
    d.passwordEdit()->setText(QStringLiteral("abc"));

    const auto pressEverywhere = [&](const std::vector<QWidget*>& targets) {
        for (QWidget* target : targets) {
            for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape)}) {
                SCOPED_TRACE(std::string(target->metaObject()->className()) + " key " +
                             std::to_string(key));
                const Qt::KeyboardModifiers mods =
                    key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
                target->setFocus();
                QKeyEvent press(QEvent::KeyPress, key, mods);
                QKeyEvent release(QEvent::KeyRelease, key, mods);
                QCoreApplication::sendEvent(target, &press);
                QCoreApplication::sendEvent(target, &release);
                EXPECT_TRUE(d.isVisible());
                EXPECT_EQ(d.result(), kNoResult);
                EXPECT_TRUE(h.prompts.shown.empty());
            }
        }
    };

    pressEverywhere({d.passwordEdit(), d.confirmButton(), d.cancelButton(), d.typedModeButton(), &d});
    EXPECT_EQ(d.passwordEdit()->text(), u"abc");
    EXPECT_TRUE(d.typedModeButton()->isChecked());

    d.keyFileModeButton()->click();
    pressEverywhere({d.chooseFileButton(), d.keyFileModeButton(), d.confirmButton(), &d});
    EXPECT_TRUE(d.keyFileModeButton()->isChecked());
    EXPECT_EQ(KeyText(d), "none");
}

TEST_F(PasswordDialogTest, NeitherModeCheckedAsksForOneAndStaysOpen)
{
    Harness h;
    QButtonGroup* modes = h.dialog.typedModeButton()->group();
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(modes, h.dialog.keyFileModeButton()->group()); // one group
    modes->setExclusive(false);
    h.dialog.typedModeButton()->setChecked(false);
    modes->setExclusive(true);

    h.prompts.AnswerMessage(tavro::MessageAnswer::Ok);
    tavro::test::ConfirmAndWait(h.dialog);
    ASSERT_EQ(h.prompts.shown.size(), 1u);
    const ShownPrompt& box = h.prompts.shown[0];
    EXPECT_EQ(box.text, QStringLiteral("貌似没有选中!??"));
    EXPECT_EQ(box.caption, tavro::ApplicationName());
    EXPECT_EQ(box.caption, QStringLiteral("password_dialog_test"));
    EXPECT_EQ(box.icon, MessageIcon::None);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_TRUE(h.dialog.isVisible());
    EXPECT_EQ(KeyText(h.dialog), "none");
}

// ---- The password field -------------------------------------------------------

TEST(PasswordFieldTest, EditsWithTheKeysOfALineEdit)
{
    using tavro::SecretLineEdit;
    const auto keys = [](const char* typed, std::vector<QKeyCombination> then = {}) {
        return [typed, then](SecretLineEdit& field) {
            QTest::keyClicks(&field, QString::fromUtf8(typed));
            for (const QKeyCombination key : then)
                QTest::keyClick(&field, key.key(), key.keyboardModifiers());
        };
    };
    struct Case {
        const char* what;
        std::function<void(SecretLineEdit&)> edit;
        std::u16string text;
        int caret;
    };
    const Case cases[] = {
        {"typed",
         [&](SecretLineEdit& f) {
             keys("a b")(f);
             QKeyEvent chinese(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("密"));
             QCoreApplication::sendEvent(&f, &chinese);
         },
         u"a b密", 4},
        {"backspace", keys("abc", {Qt::Key_Backspace}), u"ab", 2},
        {"backspace after left", keys("abc", {Qt::Key_Left, Qt::Key_Left, Qt::Key_Backspace}), u"bc", 0},
        {"delete at home", keys("abc", {Qt::Key_Home, Qt::Key_Delete}), u"bc", 0},
        {"delete at the end", keys("abc", {Qt::Key_Delete}), u"abc", 3},
        {"insert inside", keys("abc", {Qt::Key_Left}), u"abc", 2},
        {"selection replaced",
         [&](SecretLineEdit& f) {
             keys("abc", {Qt::ShiftModifier | Qt::Key_Left, Qt::ShiftModifier | Qt::Key_Left})(f);
             QTest::keyClicks(&f, QStringLiteral("z"));
         },
         u"az", 2},
        {"select all, delete", keys("abc", {Qt::ControlModifier | Qt::Key_A, Qt::Key_Delete}), u"", 0},
        {"left ends a selection at its start", keys("abc", {Qt::ShiftModifier | Qt::Key_Home, Qt::Key_Right}), u"abc", 3},
        {"paste: the first line",
         [&](SecretLineEdit& f) {
             QApplication::clipboard()->setText(QStringLiteral("cd\nef"));
             keys("ab", {Qt::ControlModifier | Qt::Key_V})(f);
         },
         u"abcd", 4},
        {"input method",
         [&](SecretLineEdit& f) {
             keys("a")(f);
             QInputMethodEvent composing(QStringLiteral("mi"), {});
             QCoreApplication::sendEvent(&f, &composing);
             QInputMethodEvent committed;
             committed.setCommitString(QStringLiteral("密码"));
             QCoreApplication::sendEvent(&f, &committed);
         },
         u"a密码", 3},
        {"copy and cut take nothing out",
         [&](SecretLineEdit& f) {
             QApplication::clipboard()->setText(QStringLiteral("other"));
             keys("abc", {Qt::ControlModifier | Qt::Key_A, Qt::ControlModifier | Qt::Key_C,
                          Qt::ControlModifier | Qt::Key_X})(f);
             EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("other"));
         },
         u"abc", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SecretLineEdit field;
        field.show();
        c.edit(field);
        EXPECT_EQ(std::u16string(field.text()), c.text);
        EXPECT_EQ(field.cursorPosition(), c.caret);
    }
}
