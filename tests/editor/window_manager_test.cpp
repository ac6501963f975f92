// The window under a real window manager on X11, driven by real key
// presses and clicks (xdotool), where the offscreen platform cannot show
// what goes wrong: which window is active, which widget has the keys, how
// the frame moves the window. Run through ../shared/tools/with-wm.sh
// (scripts/run-wm-tests.sh, through scripts/with-wm.sh); skipped on any
// other platform.
#include "document_file.h"
#include "document_status_bar.h"
#include "main_window.h"
#include "password_dialog.h"
#include "qt_prompts.h"
#include "font_dialog.h"
#include "settings_file.h"
#include "version_store.h"
#include "support/qt_application.h"
#include "application.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace tavro::test {
namespace {

using namespace std::chrono_literals;

// What the user sees, sampled on the GUI thread (also inside the nested
// loops of modal dialogs) for the driver thread to wait on.
struct Screen {
    QString modalTitle;   // the active modal dialog's title, empty if none
    QString modalClass;   // and its class
    bool modalActive = false; // it has the keys (the window manager activated it)
    QPoint confirmButton; // centre of its "确定" button, if it has one
    bool popupOpen = false;
    QPoint popupAt; // the open popup's top-left corner
    QString fileName; // the file dialog's file name field
    QString focus;    // the widget with the keys: its class, a button's text, " checked"
};

class Desktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb") ||
            std::system("command -v xdotool >/dev/null") != 0)
            GTEST_SKIP() << "needs X11 with a window manager and xdotool: run under with-wm.sh";
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
        InstallQtChineseTranslation(*QCoreApplication::instance());
        QObject::connect(&m_sampler, &QTimer::timeout, [this] { Sample(); });
        m_sampler.start(10);
    }

    void TearDown() override
    {
        if (m_driver.joinable())
            m_driver.join();
        window.reset();
    }

    void Start()
    {
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 10000));
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    // Runs steps on the driver thread while the GUI thread goes on (and
    // through whatever modal loops the keys open).
    void Drive(std::function<void()> steps)
    {
        Join();
        m_driving = true;
        m_driver = std::thread([this, steps = std::move(steps)] {
            steps();
            m_driving = false;
        });
    }
    // Waits for the driver with the event loop running, so the screen it
    // watches stays current to its last step.
    void Join()
    {
        if (!m_driver.joinable())
            return;
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_driving.load(); }, 60000)) << "the driver never finished";
        m_driver.join();
    }

    static void Xdotool(const std::string& arguments)
    {
        const std::string command = "xdotool " + arguments;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    static void Keys(const std::string& keys) { Xdotool("key --clearmodifiers " + keys); }
    static void Type(const std::string& text) { Xdotool("type --delay 20 '" + text + "'"); }

    // Driver side: waits until the screen shows what until asks for.
    bool WaitFor(const std::function<bool(const Screen&)>& until)
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(m_mutex);
                if (until(m_screen))
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::lock_guard lock(m_mutex);
        ADD_FAILURE() << "the screen never showed what the driver waited for; modal: \""
                      << m_screen.modalTitle.toStdString() << "\" (" << m_screen.modalClass.toStdString()
                      << ")";
        // Unblock the test: the modal dialog left open is closed as by its close box.
        if (!m_screen.modalTitle.isEmpty())
            Keys("alt+F4");
        return false;
    }
    // A modal dialog counts once it has the keys: until the window manager
    // has moved them there, keys go to whichever window had them.
    bool WaitForModal(const QString& title)
    {
        return WaitFor([title](const Screen& s) { return s.modalTitle == title && s.modalActive; });
    }
    bool WaitForFileDialog()
    {
        return WaitFor([](const Screen& s) { return s.modalClass == QLatin1String("QFileDialog") && s.modalActive; });
    }
    // Types path into the open file dialog, again if keys were lost on a
    // busy machine, and accepts it.
    void EnterPath(const QString& path)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            Keys("ctrl+a BackSpace");
            Type(path.toStdString());
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (std::chrono::steady_clock::now() < deadline) {
                {
                    std::lock_guard lock(m_mutex);
                    if (m_screen.fileName == path) {
                        Keys("Return");
                        return;
                    }
                }
                std::this_thread::sleep_for(10ms);
            }
        }
        ADD_FAILURE() << "could not type " << path.toStdString();
    }
    // Whether the modal dialog titled title goes within two seconds; no failure if not.
    bool WaitForModalGone(const QString& title)
    {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(m_mutex);
                if (m_screen.modalTitle != title)
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    bool WaitForNoModal()
    {
        return WaitFor([](const Screen& s) { return s.modalTitle.isEmpty() && !s.popupOpen; });
    }
    // Clicks "确定" of the open modal dialog once its place has settled (a
    // window manager may still be placing it), again if the click went to
    // where it no longer was and the dialog is still open.
    void ClickConfirm()
    {
        QString modal;
        for (int attempt = 0; attempt < 3; ++attempt) {
            QPoint at;
            for (QPoint previous(-1, -1);; std::this_thread::sleep_for(50ms)) {
                std::lock_guard lock(m_mutex);
                modal = m_screen.modalTitle;
                at = m_screen.confirmButton;
                if (at == previous)
                    break;
                previous = at;
            }
            Xdotool("mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1");
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (std::chrono::steady_clock::now() < deadline) {
                {
                    std::lock_guard lock(m_mutex);
                    if (m_screen.modalTitle != modal || m_screen.confirmButton != at)
                        return;
                }
                std::this_thread::sleep_for(10ms);
            }
        }
    }

    // Confirms the open password dialog of New with typed, and the prompt
    // that asks for the password again with the same.
    // 文件 > 新建 by keys, path chosen: true once the password dialog is up.
    bool KeysToNewDocument(const QString& path)
    {
        Keys("alt+f");
        if (!WaitFor([](const Screen& s) { return s.popupOpen; }))
            return false;
        Keys("n");
        if (!WaitForFileDialog())
            return false;
        EnterPath(path);
        return WaitForModal(QStringLiteral("密码"));
    }

    // The password typed, confirmed and retyped by keys alone: true once no
    // dialog is left.
    bool KeysToPasswordTwice(const std::string& typed)
    {
        Type(typed);
        Keys("Tab Tab space"); // past the greyed "文件..." and "取消" to "确定": Enter does nothing there
        if (!WaitForModal(QStringLiteral("确认密码")))
            return false;
        Type(typed);
        Keys("Return");
        return WaitForNoModal();
    }

    void ConfirmNewPassword(const std::string& typed)
    {
        if (!typed.empty())
            Type(typed);
        ClickConfirm();
        if (!WaitForModal(QStringLiteral("确认密码")))
            return;
        if (!typed.empty())
            Type(typed);
        ClickConfirm();
    }

    // Types a letter as the user would and expects it in the editor, beside
    // the text (a command that left text selected would have it replaced).
    void ExpectKeysInEditor(const char* after)
    {
        const QString before = window->editor()->text();
        Drive([] { Type("q"); });
        EXPECT_TRUE(Eventually([&] { return window->editor()->text().size() == before.size() + 1; }))
            << after;
        Join();
        EXPECT_TRUE(window->editor()->text().contains(QLatin1Char('q'))) << after;
        EXPECT_EQ(QApplication::focusWidget(), window->editor()) << after;
    }

    bool WaitForFocus(const QString& focus)
    {
        return WaitFor([focus](const Screen& s) { return s.focus == focus; });
    }

    // With TAVRO_SCREENSHOTS set to a folder: the whole screen as name.png
    // there, to look at what the keys did.
    static void Screenshot(const char* name)
    {
        const QByteArray folder = qgetenv("TAVRO_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        std::this_thread::sleep_for(300ms); // the last repaint
        const std::string command = "import -window root '" + folder.toStdString() + "/" + name + ".png'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    // GUI side: the screenshot taken while the window goes on painting.
    void ScreenshotWhileRunning(const char* name)
    {
        std::atomic<bool> taken = false;
        Drive([&] {
            Screenshot(name);
            taken = true;
        });
        EXPECT_TRUE(Eventually([&] { return taken.load(); }));
        Join();
    }

    // GUI side: runs the event loop until done() holds, at most 20 s.
    static bool Eventually(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }

    QTemporaryDir dir;
    QtPrompts prompts;
    std::unique_ptr<MainWindow> window;

    std::mutex m_mutex;
    Screen m_screen;

private:
    void Sample()
    {
        Screen screen;
        if (QWidget* modal = QApplication::activeModalWidget()) {
            screen.modalActive = modal->isActiveWindow();
            screen.modalTitle = modal->windowTitle();
            screen.modalClass = QString::fromLatin1(modal->metaObject()->className());
            if (auto* field = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                screen.fileName = field->text();
            for (QPushButton* button : modal->findChildren<QPushButton*>())
                if (button->text() == QStringLiteral("确定") && button->isVisible())
                    screen.confirmButton = button->mapToGlobal(button->rect().center());
        }
        if (QWidget* focus = QApplication::focusWidget()) {
            screen.focus = QString::fromLatin1(focus->metaObject()->className());
            if (auto* button = qobject_cast<QAbstractButton*>(focus))
                screen.focus += QLatin1Char(' ') + button->text() + (button->isChecked() ? QStringLiteral(" checked") : QString());
        }
        if (QWidget* popup = QApplication::activePopupWidget()) {
            screen.popupOpen = true;
            screen.popupAt = popup->pos();
        }
        std::lock_guard lock(m_mutex);
        m_screen = screen;
    }

    QTimer m_sampler;
    std::thread m_driver;
    std::atomic<bool> m_driving = false;
};

TEST_F(Desktop, KeyboardOnlyNewThenTypingLandsInTheEditor)
{
    Start();
    const std::string path = Path(QStringLiteral("hello.tvro")).toStdString();
    Drive([&, path] {
        if (!KeysToNewDocument(QString::fromStdString(path)))
            return;
        ConfirmNewPassword("pw");
        if (!WaitForNoModal())
            return;
        Type("Hello world");
    });
    EXPECT_TRUE(Eventually([&] { return window->editor()->text() == QStringLiteral("Hello world"); }))
        << window->editor()->text().toStdString();
    Join();
    EXPECT_FALSE(window->isLocked()); // "l" did not run the lock command
    EXPECT_EQ(QApplication::focusWidget(), window->editor());
    EXPECT_EQ(QFile(Path(QStringLiteral("hello.tvro"))).size(), 0); // nothing saved by a stray key
}

// The same by keys alone for a strong document: its key is made while the
// dialog waits, and its first save is in the strong format.
TEST_F(Desktop, KeyboardOnlyNewOfAStrongDocument)
{
    Start();
    const QString path = Path(QStringLiteral("strong.tvrs"));
    Drive([&, path] {
        if (!KeysToNewDocument(path) || !KeysToPasswordTwice("pw"))
            return;
        Type("strong text");
        Keys("ctrl+s");
    });
    EXPECT_TRUE(Eventually(
        [&] { return window->editor()->text() == QStringLiteral("strong text") && !window->isModified(); }))
        << window->editor()->text().toStdString();
    Join();
    EXPECT_TRUE(window->documentStatusBar()->Texts().contains(QStringLiteral("UTF-8 · 强加密")));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith(QByteArray("\x89TVRS\r\n\x1a", 8)));
}

TEST_F(Desktop, EachCommandLeavesTheKeysInTheEditor)
{
    Start();
    // New and Open through their dialogs, answered with keys and a click.
    const std::string newPath = Path(QStringLiteral("a.tvro")).toStdString();
    Drive([&, newPath] {
        if (!WaitForFileDialog())
            return;
        EnterPath(QString::fromStdString(newPath));
        if (WaitForModal(QStringLiteral("密码")))
            ConfirmNewPassword("");
    });
    window->OnFileNew();
    Join();
    ExpectKeysInEditor("New");

    window->OnToggleWordWrap();
    ExpectKeysInEditor("word wrap");
    window->OnToggleWordWrap();
    ExpectKeysInEditor("word wrap back");

    window->OnFileSave();
    const std::string openPath = Path(QStringLiteral("a.tvro")).toStdString();
    Drive([&, openPath] {
        if (!WaitForModal(QStringLiteral("重要提示")))
            return;
        Keys("Return"); // 是: close the current document
        if (!WaitForFileDialog())
            return;
        EnterPath(QString::fromStdString(openPath));
        if (WaitForModal(QStringLiteral("密码")))
            ClickConfirm();
    });
    window->OnFileOpen();
    Join();
    ASSERT_TRUE(window->isDocumentOpen());
    window->OnUnlock();
    ExpectKeysInEditor("Open");

    Drive([this] {
        if (WaitForModal(QStringLiteral("设置字体")))
            ClickConfirm();
    });
    window->OnSettingsFont();
    Join();
    ExpectKeysInEditor("font OK");
}

TEST_F(Desktop, FindNextAndReplaceLeaveTheEditorFocused)
{
    Start();
    Drive([&] {
        if (!WaitForFileDialog())
            return;
        EnterPath(Path(QStringLiteral("f.tvro")));
        if (WaitForModal(QStringLiteral("密码")))
            ConfirmNewPassword("");
    });
    window->OnFileNew();
    Join();
    window->editor()->insertPlainText(QStringLiteral("ab cd ab"));
    window->OnEditReplace();
    FindReplaceDialog* dialog = window->findDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(Eventually([&] { return dialog->isActiveWindow(); }));
    dialog->findEdit()->setText(QStringLiteral("cd"));
    dialog->replaceEdit()->setText(QStringLiteral("CD"));
    // Clicked, not Return: a key could reach the main window before the
    // window manager has moved the keyboard to the dialog.
    QPushButton* findNext = dialog->findNextButton();
    const QPoint at = findNext->mapToGlobal(findNext->rect().center());
    Drive([at] { Xdotool("mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1"); });
    ASSERT_TRUE(Eventually([&] { return window->isActiveWindow() && QApplication::focusWidget() == window->editor(); }));
    Join();
    EXPECT_EQ(window->editor()->textCursor().selectedText(), QStringLiteral("cd"));

    // Replace, clicked as well (the window manager honours a request to
    // activate the main window right after the user's own input), once the
    // dialog has the keys again.
    const auto click = [this](QWidget* widget) {
        const QPoint centre = widget->mapToGlobal(widget->rect().center());
        Drive([centre] {
            Xdotool("mousemove " + std::to_string(centre.x()) + " " + std::to_string(centre.y()) + " click 1");
        });
    };
    click(dialog->replaceEdit());
    ASSERT_TRUE(Eventually([&] { return dialog->isActiveWindow(); }));
    Join();
    click(dialog->replaceButton());
    ASSERT_TRUE(Eventually([&] {
        return window->editor()->text() == QStringLiteral("ab CD ab") && window->isActiveWindow() &&
               QApplication::focusWidget() == window->editor();
    })) << window->editor()->text().toStdString();
    Join();
    // The caret after the replacement, nothing selected: a key types there.
    Drive([] { Type("q"); });
    EXPECT_TRUE(Eventually([&] { return window->editor()->text() == QStringLiteral("ab CDq ab"); }))
        << window->editor()->text().toStdString();
}

TEST_F(Desktop, MenuKeyAndShiftF10OpenTheContextMenuAtTheCaret)
{
    Start();
    Drive([&] {
        if (!WaitForFileDialog())
            return;
        EnterPath(Path(QStringLiteral("m.tvro")));
        if (WaitForModal(QStringLiteral("密码")))
            ConfirmNewPassword("");
    });
    window->OnFileNew();
    Join();
    window->editor()->insertPlainText(QStringLiteral("caret here"));
    for (const char* keys : {"Menu", "shift+F10"}) {
        // The menu runs its own loop: the driver looks at it and closes it.
        std::atomic<bool> closed = false;
        QPoint at;
        Drive([&, keys] {
            Keys(keys);
            if (WaitFor([](const Screen& s) { return s.popupOpen; })) {
                {
                    std::lock_guard lock(m_mutex);
                    at = m_screen.popupAt;
                }
                Keys("Escape");
            }
            closed = true;
        });
        EXPECT_TRUE(Eventually([&] { return closed.load(); })) << keys;
        Join();
        const QPoint caret = window->CaretMenuPosition();
        EXPECT_LE((at - caret).manhattanLength(), 2) << keys << ": menu at " << at.x() << "," << at.y()
                                                      << ", caret at " << caret.x() << "," << caret.y();
    }
}

TEST_F(Desktop, FiveRestartsKeepTheWindowRectangleToThePixel)
{
    SettingsRecord record;
    record.geometry = {0, 101, 100, 1002, 725};
    QFile config(Path(QStringLiteral("config")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    const QByteArray first = SerializeSettings(record);
    config.write(first);
    config.close();
    for (int run = 1; run <= 5; ++run) {
        Start();
        ASSERT_TRUE(Eventually([&] { return !window->windowHandle()->frameMargins().isNull(); }));
        EXPECT_TRUE(Eventually([&] { return window->frameGeometry() == QRect(101, 100, 1002, 725); }))
            << "run " << run << ": " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
        window->close();
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        EXPECT_EQ(config.read(19).toHex(' '), first.left(19).toHex(' ')) << "run " << run;
        config.close();
    }
    // Maximized by the user: stored with the rectangle it returns to.
    Start();
    window->showMaximized();
    ASSERT_TRUE(Eventually([&] { return window->isMaximized(); }));
    window->close();
    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    const QByteArray maximized = config.read(17);
    config.close();
    EXPECT_EQ(maximized[0], 1);
    EXPECT_EQ(maximized.mid(1).toHex(' '), first.mid(1, 16).toHex(' '));

    // Maximized at start: it comes back maximized and keeps the rectangle to
    // return to, to the pixel, however often it is started and restored.
    record.geometry.maximized = 1;
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(SerializeSettings(record));
    config.close();
    for (int run = 1; run <= 3; ++run) {
        Start();
        ASSERT_TRUE(Eventually([&] { return window->isMaximized(); }));
        window->close();
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        const QByteArray stored = config.read(17);
        config.close();
        EXPECT_EQ(stored[0], 1) << "run " << run;
        EXPECT_EQ(stored.mid(1).toHex(' '), first.mid(1, 16).toHex(' ')) << "run " << run;

        Start();
        ASSERT_TRUE(Eventually([&] { return window->isMaximized(); }));
        window->showNormal();
        EXPECT_TRUE(Eventually([&] { return window->frameGeometry() == QRect(101, 100, 1002, 725); }))
            << "run " << run << ": " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
        window->showMaximized();
        ASSERT_TRUE(Eventually([&] { return window->isMaximized(); }));
    }
    window->close();
}

// The version history by keyboard alone: the menu, the list, a preview
// under the version's own password (none here: the all-zero key) and a restore.
TEST_F(Desktop, KeyboardOnlyPreviewAndRestoreOfAVersion)
{
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    const QString path = Path(QStringLiteral("v.tvro"));
    const auto write = [&path](const QString& text) { // replaced whole, as every writer does
        const auto bytes = EncryptDocument(text.toStdU16String(), kZeroKey);
        QSaveFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        ASSERT_TRUE(file.commit());
    };
    write(QStringLiteral("first version"));
    ASSERT_EQ(VersionStore(DefaultVersionRoot()).Keep(QFile::encodeName(path).toStdString(), VersionOrigin::Save).outcome,
              KeepResult::Kept);
    write(QStringLiteral("what replaced it"));

    Start();
    Drive([this] {
        if (WaitForModal(QStringLiteral("密码")))
            Keys("Tab space"); // 取消: the all-zero key
    });
    window->OpenDocumentPath(path, QStringLiteral("v.tvro"));
    Join();
    ASSERT_EQ(window->editor()->text(), QStringLiteral("what replaced it"));

    std::atomic<bool> done = false;
    Drive([&] {
        Keys("alt+f");
        if (WaitFor([](const Screen& s) { return s.popupOpen; })) {
            Keys("v");
            if (WaitForModal(QStringLiteral("历史版本 - v.tvro"))) {
                Keys("Return"); // 预览, the list's default
                if (WaitForModal(QStringLiteral("密码"))) {
                    Keys("Tab space");
                    if (WaitFor([](const Screen& s) {
                            return s.modalClass == QLatin1String("tavro::VersionPreviewDialog") && s.modalActive;
                        }))
                        Keys("alt+r"); // 恢复此版本
                }
            }
        }
        done = true;
    });
    EXPECT_TRUE(Eventually([&] { return done.load() && window->editor()->text() == QStringLiteral("first version"); }))
        << window->editor()->text().toStdString();
    Join();
    EXPECT_TRUE(window->isLocked());
    EXPECT_EQ(VersionStore(DefaultVersionRoot()).Keep(QFile::encodeName(path).toStdString(), VersionOrigin::Save).number,
              3u); // the restore kept what it replaced as version 2
}

TEST_F(Desktop, MessageBoxButtonsReadYesAndNoInChinese)
{
    Start();
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons())
            texts << button->text();
        box->button(QMessageBox::No)->click();
    });
    const MessageAnswer answer = prompts.ShowMessage(window.get(), QStringLiteral("是否关闭当前文档?\n(请注意保存)"),
                                                     QStringLiteral("重要提示"), MessageIcon::None,
                                                     MessageButtons::YesNo);
    EXPECT_EQ(answer, MessageAnswer::No);
    texts.sort();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts.join(QLatin1Char(' ')).contains(QStringLiteral("是")));
    EXPECT_TRUE(texts.join(QLatin1Char(' ')).contains(QStringLiteral("否")));
}

TEST_F(Desktop, PasswordDialogKeyFileModeByKeysAloneWhereEnterAndEscapeDoNothing)
{
    Start();
    const QString keyFile = Path(QStringLiteral("key file"));
    QFile file(keyFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("bytes of the key file");
    file.close();
    PasswordDialog dialog(prompts, KeyRecipe{}, window.get());
    Drive([&] {
        if (!WaitForModal(QStringLiteral("密码")))
            return;
        Keys("Return Escape KP_Enter");
        Screenshot("password-dialog");
        Keys("shift+Tab"); // back from the password to the mode chosen
        if (!WaitForFocus(QStringLiteral("QRadioButton 键盘输入密码 checked")))
            return;
        Keys("Right");
        if (!WaitForFocus(QStringLiteral("QRadioButton 某个文件作为密码 checked")))
            return;
        Screenshot("password-dialog-key-file-mode");
        Keys("Tab");
        if (!WaitForFocus(QStringLiteral("QPushButton 文件...")))
            return;
        Keys("space");
        if (!WaitForFileDialog())
            return;
        EnterPath(keyFile);
        if (!WaitForModal(QStringLiteral("密码")) || !WaitForFocus(QStringLiteral("QPushButton 文件...")))
            return;
        Keys("Tab");
        if (!WaitForFocus(QStringLiteral("QPushButton 取消")))
            return;
        Keys("Tab");
        if (!WaitForFocus(QStringLiteral("QPushButton 确定")))
            return;
        Screenshot("password-dialog-on-confirm");
        Keys("space");
    });
    const int result = dialog.exec();
    Join();
    EXPECT_EQ(result, QDialog::Accepted); // not closed by Enter or Escape before
    EXPECT_FALSE(dialog.typedPasswordConfirmed());
    const std::optional<SessionKey> key = dialog.takeKey();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(key->tvro().bytes().data()), 32),
              QCryptographicHash::hash("bytes of the key file", QCryptographicHash::Md5).toHex());
}

TEST_F(Desktop, UnsavedChangesQuestionTakesItsMnemonicsAndEnterCancels)
{
    Start();
    struct Case {
        const char* keys;
        MessageAnswer answer;
    };
    const Case cases[] = {
        {"Return", MessageAnswer::Cancel},
        {"alt+s", MessageAnswer::Save},
        {"alt+n", MessageAnswer::Discard},
        {"Escape", MessageAnswer::Cancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        Drive([&] {
            if (!WaitForModal(QStringLiteral("重要提示")))
                return;
            Screenshot("unsaved-changes-question");
            // Keys that reached no window (the box not yet given the input
            // focus) are sent again; the box left open is closed, not waited on.
            for (int attempt = 0; attempt < 3; ++attempt) {
                Keys(c.keys);
                if (WaitForModalGone(QStringLiteral("重要提示")))
                    return;
            }
            WaitForNoModal();
        });
        const MessageAnswer answer =
            prompts.ShowMessage(window.get(), QStringLiteral("是否关闭当前文档?\n(请注意保存)"),
                                QStringLiteral("重要提示"), MessageIcon::None, MessageButtons::SaveDiscardCancel);
        Join();
        EXPECT_EQ(answer, c.answer);
    }
}

TEST_F(Desktop, HideAndShowByKeysAlone)
{
    Start();
    const QString path = Path(QStringLiteral("h.tvro"));
    Drive([&] {
        if (!KeysToNewDocument(path) || !KeysToPasswordTwice("pw"))
            return;
        Type("secret words");
    });
    ASSERT_TRUE(Eventually([&] { return window->editor()->text() == QStringLiteral("secret words"); }));
    Join();

    Drive([] { Keys("alt+y"); });
    ASSERT_TRUE(Eventually([&] { return window->isHidden(); }));
    Join();
    ScreenshotWhileRunning("hidden-window");

    // The panel's button has the keys: Enter asks; a wrong password shows nothing.
    std::atomic<bool> answered = false;
    Drive([&] {
        Keys("Return");
        if (WaitForModal(QStringLiteral("密码"))) {
            Type("px");
            Keys("Tab Tab space");
            if (WaitForModal(QStringLiteral("显示文本"))) {
                Screenshot("wrong-password");
                Keys("Return");
                WaitForNoModal();
            }
        }
        answered = true;
    });
    EXPECT_TRUE(Eventually([&] { return answered.load(); }));
    Join();
    EXPECT_TRUE(window->isHidden());

    Drive([&] {
        Keys("alt+x");
        if (!WaitForModal(QStringLiteral("密码")))
            return;
        Type("pw");
        Keys("Tab Tab space");
    });
    EXPECT_TRUE(Eventually([&] { return !window->isHidden(); }));
    Join();
    EXPECT_TRUE(window->isLocked());
    EXPECT_TRUE(window->editor()->isVisible());
    EXPECT_EQ(window->editor()->text(), QStringLiteral("secret words"));
    ScreenshotWhileRunning("shown-again");
}

} // namespace
} // namespace tavro::test
