// Privacy while the window is open: hiding and showing the text, what hides
// it unasked (idle time, the session's lock, minimizing), auto-save while
// hidden, and copied text on the clipboard.
#include "document_status_bar.h"
#include "privacy_dialog.h"
#include "privacy_ids.h"
#include "session_watch.h"
#include "support/failing_save_file.h"
#include "window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDBusConnection>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>


#include <functional>

namespace tavro::test {
namespace {

using namespace std::chrono_literals;

const QString kWrongSecret = QStringLiteral("密码错误,文本仍然隐藏.");

// A window whose privacy settings live in a folder of the test's own, and
// whose idle time runs on a clock the test moves.
class Privacy : public WindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        WindowTest::SetUp();
        window->idleWatch().setClock([this] { return now; });
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
    }

    // Time passes; the idle timer fires.
    void Wait(std::chrono::milliseconds time)
    {
        now += time;
        window->idleWatch().Check();
    }

    // The next password dialog is confirmed in key-file mode with path.
    void AnswerKeyFile(const QString& path)
    {
        prompts.AnswerModal([](QDialog& dialog) {
            auto& passwordDialog = dynamic_cast<PasswordDialog&>(dialog);
            passwordDialog.keyFileModeButton()->click();
            passwordDialog.chooseFileButton()->click();
            ConfirmAndWait(passwordDialog);
            return dialog.result();
        });
        prompts.AnswerFile(path); // the chooser the dialog opens
    }

    QString KeyFile(const QString& name, const QByteArray& bytes)
    {
        WriteFile(name, bytes);
        return Path(name);
    }

    // The window as it is drawn once its layouts have settled.
    QImage Look()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return window->grab().toImage();
    }

    std::chrono::steady_clock::time_point now{};
    QTemporaryDir home;

private:
    QByteArray m_oldConfigHome;
};

TEST_F(Privacy, HiddenTextShowsNothingAndComesBackOnlyWithItsKey)
{
    struct Case {
        const char* what;
        QString name; // the document's file
        std::function<void()> answerNew; // the key chosen for New
        std::function<void()> answerRight;
        std::function<void()> answerWrong;
    };
    const QString keyFile = KeyFile(QStringLiteral("k"), "key");
    const QString otherKeyFile = KeyFile(QStringLiteral("other"), "kez");
    const Case cases[] = {
        {"typed password", QStringLiteral("a.tvro"), [this] { AnswerPasswordTwice(QStringLiteral("pw")); },
         [this] { AnswerPassword(QStringLiteral("pw")); }, [this] { AnswerPassword(QStringLiteral("pW")); }},
        {"key file", QStringLiteral("a.tvro"), [&] { AnswerKeyFile(keyFile); }, [&] { AnswerKeyFile(keyFile); },
         [&] { AnswerKeyFile(otherKeyFile); }},
        // The key made again with the document's own salt and limits.
        {"strong document", QStringLiteral("s.tvrs"), [this] { AnswerPasswordTwice(QStringLiteral("pw")); },
         [this] { AnswerPassword(QStringLiteral("pw")); }, [this] { AnswerPassword(QStringLiteral("pW")); }},
    };
    ShowActive();
    const QString text = QStringLiteral("机密的文字 secret\n").repeated(50);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (window->isDocumentOpen())
            prompts.AnswerMessage(MessageAnswer::Yes);
        prompts.AnswerFile(Path(c.name));
        c.answerNew();
        window->OnFileNew();
        window->WaitForSave(); // a strong document's first write
        TypeText(text);
        window->editor()->select(30, 30);
        prompts.shown.clear();

        window->OnCommand(ID_HIDE);
        window->WaitForSave();
        ASSERT_TRUE(window->isHidden());
        EXPECT_TRUE(window->isLocked());
        EXPECT_FALSE(window->editor()->isVisibleTo(window.get()));
        EXPECT_EQ(window->windowTitle(), kLockedTitlePrefix + QStringLiteral("[%1]").arg(c.name));
        EXPECT_EQ(window->documentStatusBar()->Texts(),
                  QStringList({QStringLiteral("已隐藏"), QStringLiteral("自动保存: 开"),
                               c.name.endsWith(QStringLiteral(".tvrs")) ? QStringLiteral("UTF-8 · 强加密")
                                                                       : QStringLiteral("GBK")}));
        const QImage hidden = Look();

        // A wrong key says so and shows nothing; a cancelled prompt shows nothing.
        c.answerWrong();
        prompts.AnswerMessage(MessageAnswer::Ok);
        window->OnCommand(ID_SHOW);
        EXPECT_EQ(prompts.MessageTexts(), std::vector<QString>{kWrongSecret});
        EXPECT_TRUE(window->isHidden());
        CancelPassword();
        window->OnCommand(ID_SHOW);
        EXPECT_TRUE(window->isHidden());

        // The right one shows the text where it was, still locked.
        window->OnUnlock(); // refused while hidden
        EXPECT_TRUE(window->isLocked());
        c.answerRight();
        window->OnCommand(ID_SHOW);
        EXPECT_FALSE(window->isHidden());
        EXPECT_TRUE(window->isLocked());
        EXPECT_TRUE(window->editor()->isVisibleTo(window.get()));
        EXPECT_EQ(EditorText(), text);
        EXPECT_EQ(window->editor()->textCursor().position(), 30);

        // Nothing of the text shows: hidden, another text looks the same.
        window->OnUnlock();
        TypeText(QStringLiteral("other words, longer than the first ones"));
        window->OnCommand(ID_HIDE);
        window->WaitForSave();
        EXPECT_EQ(Look(), hidden);
        c.answerRight();
        window->OnCommand(ID_SHOW);
        EXPECT_TRUE(prompts.AllAnswered());
    }
}

TEST_F(Privacy, IdleTimeHidesButInputPostponesIt)
{
    ShowActive();
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    EXPECT_EQ(window->privacySettings().idleMinutes, 10); // the default
    Wait(10min - 1ms);
    EXPECT_FALSE(window->isHidden());
    // Typing, moving or clicking the mouse starts the count again.
    QTest::keyClick(window->editor(), Qt::Key_A);
    Wait(9min);
    QTest::mouseMove(window->editor()->viewport(), QPoint(5, 5));
    Wait(9min);
    QTest::mouseClick(window->editor()->viewport(), Qt::LeftButton);
    Wait(10min - 1ms);
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(EditorText(), QStringLiteral("a"));
    Wait(1ms);
    EXPECT_TRUE(window->isHidden());

    // Off: never.
    prompts.AnswerModal([](QDialog& dialog) {
        auto& privacy = dynamic_cast<PrivacyDialog&>(dialog);
        privacy.idleBox()->setCurrentIndex(privacy.idleBox()->findData(0));
        dialog.accept();
        return dialog.result();
    });
    window->OnCommand(ID_SETTINGS_PRIVACY);
    window->OnCommand(ID_SHOW); // no password was given at New: none is asked for

    EXPECT_FALSE(window->isHidden());
    Wait(24h);
    EXPECT_FALSE(window->isHidden());
}

TEST_F(Privacy, TheSessionsLockAndMinimizingHide)
{
    // A watch on no bus: the test gives its signal.
    SessionWatch watch(QDBusConnection(QStringLiteral("none")), QDBusConnection(QStringLiteral("none")));
    window->WatchSession(watch);
    struct Case {
        const char* what;
        bool hideOnMinimize;
        std::function<void()> happen;
        bool hides;
    };
    const Case cases[] = {
        {"the session locks", false, [&] { emit watch.locking(); }, true},
        {"minimized, hiding chosen", true, [this] { window->showMinimized(); }, true},
        {"minimized, not chosen", false, [this] { window->showMinimized(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window->showNormal();
        prompts.AnswerModal([&c](QDialog& dialog) {
            dynamic_cast<PrivacyDialog&>(dialog).minimizeBox()->setChecked(c.hideOnMinimize);
            dialog.accept();
            return dialog.result();
        });
        window->OnCommand(ID_SETTINGS_PRIVACY);
        NewDocument(QStringLiteral("a.tvro"), nullptr, window->isDocumentOpen() ? Open::Unchanged : Open::Nothing);
        c.happen();
        EXPECT_EQ(window->isHidden(), c.hides);
    }
}

TEST_F(Privacy, HidingSavesAsAutoSaveWouldAndLeavesTheRestToTheUnsavedChangeRules)
{
    const auto stored = [this] { return StoredText(ReadFile(QStringLiteral("a.tvro"))); };
    const auto showUnlocked = [this] {
        window->OnCommand(ID_SHOW); // the zero key: nothing asked
        window->OnUnlock();
    };
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    TypeText(QStringLiteral("one"));
    window->OnHide();
    EXPECT_EQ(stored(), QStringLiteral("one"));

    // A write that fails is tried again by the ticks while hidden.
    showUnlocked();
    TypeText(QStringLiteral("two"));
    window->setWriterFactory(FailingWriters(0));
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnHide();
    EXPECT_EQ(stored(), QStringLiteral("one"));
    EXPECT_EQ(prompts.MessageTexts().back(), QStringLiteral("尝试写文件失败!"));
    window->setWriterFactory(nullptr);
    window->OnTimer();
    EXPECT_EQ(stored(), QStringLiteral("two"));
    EXPECT_FALSE(window->isModified());

    // Auto-save off: the change waits, and closing asks about it.
    showUnlocked();
    window->OnToggleAutoSave();
    TypeText(QStringLiteral("three"));
    window->OnHide();
    window->OnTimer();
    EXPECT_EQ(stored(), QStringLiteral("two"));
    prompts.AnswerMessage(MessageAnswer::Cancel);
    window->OnFileCloseDoc();
    EXPECT_EQ(prompts.shown.back().buttons, MessageButtons::SaveDiscardCancel);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->isModified());
}

TEST_F(Privacy, CopiedTextIsMarkedSecretAndTakenBackOnlyWhileItIsOurs)
{
    QClipboard* clipboard = QApplication::clipboard();
    struct Case {
        const char* what;
        std::function<void()> takeBack;
    };
    const Case cases[] = {
        {"hidden", [this] { window->OnHide(); }},
        {"closed",
         [this] {
             prompts.AnswerMessage(MessageAnswer::Discard);
             window->OnFileCloseDoc();
         }},
        {"program ends",
         [this] {
             prompts.AnswerMessage(MessageAnswer::Discard);
             window->close();
         }},
        {"time passed",
         [this] {
             const QTimer& timer = window->clipboardGuard().timer();
             EXPECT_TRUE(timer.isActive());
             EXPECT_EQ(timer.interval(), 60000);
             QMetaObject::invokeMethod(const_cast<QTimer*>(&timer), "timeout");
         }},
    };
    for (const Case& c : cases) {
        for (const bool another : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (another ? ", another program's text since" : ""));
            window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
            window->OnInitDialog();
            NewDocument(QStringLiteral("a.tvro"), nullptr);
            TypeText(QStringLiteral("机密 words"));
            window->OnEditSelectAll();
            window->OnEditCopy();
            const QMimeData* copied = clipboard->mimeData();
            ASSERT_NE(copied, nullptr);
            EXPECT_EQ(copied->text(), QStringLiteral("机密 words"));
            EXPECT_EQ(copied->data(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
            if (another)
                clipboard->setText(QStringLiteral("theirs"));
            c.takeBack();
            EXPECT_EQ(clipboard->text(), another ? QStringLiteral("theirs") : QString());
        }
    }
}

TEST_F(Privacy, SettingsAreTheUsersAndReadBackOnlyAsOffered)
{
    prompts.AnswerModal([](QDialog& dialog) {
        auto& privacy = dynamic_cast<PrivacyDialog&>(dialog);
        privacy.idleBox()->setCurrentIndex(privacy.idleBox()->findData(1));
        privacy.minimizeBox()->setChecked(true);
        privacy.clipboardBox()->setCurrentIndex(privacy.clipboardBox()->findData(30));
        dialog.accept();
        return dialog.result();
    });
    window->OnCommand(ID_SETTINGS_PRIVACY);
    const QString file = home.filePath(QStringLiteral("tavro/privacy.ini"));
    ASSERT_TRUE(QFileInfo::exists(file));
    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_EQ(window->privacySettings(), (PrivacySettings{1, true, 30}));
    EXPECT_EQ(window->idleWatch().timeout(), 1min);
    EXPECT_EQ(window->clipboardGuard().timer().interval(), 30000);

    struct Case {
        const char* content;
        PrivacySettings read;
    };
    const Case cases[] = {
        {"", {}},
        {"[privacy]\nidleMinutes=30\nhideOnMinimize=true\nclipboardSeconds=0\n", {30, true, 0}},
        {"[privacy]\nidleMinutes=7\nhideOnMinimize=yes\nclipboardSeconds=-60\n", {}},
        {"[privacy]\nidleMinutes=five\nclipboardSeconds=\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        const QString name = QStringLiteral("%1.ini").arg(&c - cases); // QSettings keeps what it read of a file
        WriteFile(name, c.content);
        EXPECT_EQ(LoadPrivacySettings(Path(name)), c.read);
    }
}

} // namespace
} // namespace tavro::test
