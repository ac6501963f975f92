// The window as a desktop program, without a window manager: keyboard
// focus after each command, the status bar, drops, the context menu's
// triggers, Qt's Chinese texts and where "config" lives.
#include "document_file.h"
#include "document_status_bar.h"
#include "qt_prompts.h"
#include "recent_folders.h"
#include "font_dialog.h"
#include "settings_file.h"
#include "application.h"
#include "window_fixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <unistd.h>

namespace tavro::test {
namespace {

QByteArray Encrypt(const QString& text)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), kZeroKey);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// ---- Keyboard focus ----

using Focus = WindowTest;

TEST_F(Focus, EveryCommandThatChangesTheWorkLeavesTheKeysInTheEditor)
{
    ShowActive();
    WriteFile(QStringLiteral("o.tvro"), Encrypt(QStringLiteral("open me")));
    struct Step {
        const char* name;
        std::function<void()> run;
        bool documentOpen;
    };
    const Step steps[] = {
        {"New", [&] { NewDocument(QStringLiteral("n.tvro"), nullptr); }, true},
        {"word wrap", [&] { window->OnToggleWordWrap(); }, true},
        {"Open", [&] { OpenDocument(QStringLiteral("o.tvro"), nullptr, Open::Unchanged); }, true},
        {"font OK",
         [&] {
             prompts.AnswerModal([](QDialog& dialog) {
                 dynamic_cast<FontDialog&>(dialog).OnOK();
                 return int{QDialog::Accepted};
             });
             window->OnSettingsFont();
         },
         true},
        {"Close",
         [&] {
             prompts.AnswerMessage(MessageAnswer::Yes);
             window->OnFileCloseDoc();
         },
         false},
    };
    for (const Step& step : steps) {
        window->menuBar()->setFocus(); // where the keys were left by Alt+F
        step.run();
        EXPECT_TRUE(window->isActiveWindow()) << step.name;
        QWidget* expected = step.documentOpen ? static_cast<QWidget*>(window->editor())
                                              : window->centralWidget();
        EXPECT_EQ(QApplication::focusWidget(), expected) << step.name;
    }
}

TEST_F(Focus, FindNextAndReplaceReturnTheKeysToTheEditor)
{
    ShowActive();
    NewDocument(QStringLiteral("f.tvro"), nullptr);
    TypeText(QStringLiteral("ab ab"));
    window->OnEditReplace();
    FindReplaceDialog* dialog = window->findDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->activateWindow();
    dialog->findEdit()->setText(QStringLiteral("ab"));
    dialog->replaceEdit()->setText(QStringLiteral("x"));
    dialog->findEdit()->setFocus();
    dialog->findNextButton()->click();
    EXPECT_EQ(QApplication::focusWidget(), window->editor());
    EXPECT_TRUE(window->isActiveWindow());
    dialog->findEdit()->setFocus();
    dialog->replaceButton()->click();
    EXPECT_EQ(EditorText(), QStringLiteral("x ab"));
    EXPECT_EQ(QApplication::focusWidget(), window->editor());
}

// ---- The status bar ----

using StatusBar = WindowTest;

TEST_F(StatusBar, ShowsLockChangesAutoSaveCaretCountAndCodePage)
{
    const auto texts = [&] { return window->documentStatusBar()->Texts(); };
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("没有正在编辑的文件"), QStringLiteral("自动保存: 开"),
                                    QStringLiteral("GBK")}));
    NewDocument(QStringLiteral("s.tvro"), nullptr);
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("未锁定"), QStringLiteral("自动保存: 开"),
                                    QStringLiteral("第 1 行, 第 1 列"), QStringLiteral("0 个字符"),
                                    QStringLiteral("GBK")}));
    window->editor()->insertPlainText(QStringLiteral("一二\nabc"));
    EXPECT_EQ(texts(), (QStringList{QStringLiteral("未锁定"), QStringLiteral("未保存"),
                                    QStringLiteral("自动保存: 开"), QStringLiteral("第 2 行, 第 4 列"),
                                    QStringLiteral("6 个字符"), QStringLiteral("GBK")}));
    window->OnFileSave();
    window->WaitForSave();
    EXPECT_FALSE(texts().contains(QStringLiteral("未保存"))); // the status after Save
    window->OnToggleAutoSave();
    window->LockEditors();
    EXPECT_EQ(texts().mid(0, 2), (QStringList{QStringLiteral("已锁定"), QStringLiteral("自动保存: 关")}));
}

// ---- Drops ----

using Drop = WindowTest;

std::unique_ptr<QMimeData> Urls(const QString& path)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(path)});
    return data;
}

void SendDrop(QWidget* target, const QMimeData* data)
{
    const QPointF at(5, 5);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, data, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ASSERT_TRUE(drop.isAccepted());
}

TEST_F(Drop, ADroppedDocumentGoesThroughOpensQuestionsAndPassword)
{
    WriteFile(QStringLiteral("dropped.tvro"), Encrypt(QStringLiteral("dropped text")));
    const auto data = Urls(Path(QStringLiteral("dropped.tvro")));
    CancelPassword(); // the all-zero key
    SendDrop(window.get(), data.get());
    QTRY_VERIFY(window->isDocumentOpen());
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("tavro::PasswordDialog"));
    EXPECT_EQ(EditorText(), QStringLiteral("dropped text"));
    EXPECT_EQ(window->windowTitle(), kLockedTitlePrefix + QStringLiteral("[dropped.tvro]"));

    // On the editor of an open document: first the question about it.
    WriteFile(QStringLiteral("second.tvro"), Encrypt(QStringLiteral("second")));
    const auto second = Urls(Path(QStringLiteral("second.tvro")));
    prompts.AnswerMessage(MessageAnswer::No);
    SendDrop(window->editor()->viewport(), second.get());
    QTRY_VERIFY(prompts.AllAnswered());
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("是否关闭当前文档?\n(请注意保存)"));
    EXPECT_EQ(EditorText(), QStringLiteral("dropped text"));
}

TEST_F(Drop, AFolderIsNotOpened)
{
    QDir(dir.path()).mkdir(QStringLiteral("folder.tvro"));
    const auto data = Urls(Path(QStringLiteral("folder.tvro")));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &drop);
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(window->isDocumentOpen());
}

TEST_F(Drop, DroppedTextIsStillInserted)
{
    ShowActive();
    NewDocument(QStringLiteral("t.tvro"), nullptr);
    QMimeData data;
    data.setText(QStringLiteral("plain"));
    SendDrop(window->editor()->viewport(), &data);
    EXPECT_EQ(EditorText(), QStringLiteral("plain"));
    EXPECT_TRUE(prompts.shown.size() == 2u); // New's file and password only
}

// ---- The context menu ----

class ContextMenu : public WindowTest {
protected:
    // Runs action and returns where a popup opened during it (closing it), if one did.
    std::optional<QPoint> PopupDuring(const std::function<void()>& action)
    {
        std::optional<QPoint> opened;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                opened = popup->pos();
                popup->close();
            }
        });
        watcher.start(0);
        action();
        QCoreApplication::processEvents();
        return opened;
    }
};

TEST_F(ContextMenu, OpensOnReleaseAndAtTheCaretFromTheKeyboard)
{
    ShowActive();
    NewDocument(QStringLiteral("c.tvro"), nullptr);
    QWidget* viewport = window->editor()->viewport();
    const QPoint at(30, 20);
    EXPECT_FALSE(PopupDuring([&] {
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QCoreApplication::sendEvent(viewport, &event); // what the platform sends on the press
    }));
    EXPECT_EQ(PopupDuring([&] { QTest::mouseRelease(viewport, Qt::RightButton, {}, at); }),
              viewport->mapToGlobal(at));
    const QPoint caret = window->CaretMenuPosition();
    EXPECT_EQ(PopupDuring([&] { QTest::keyClick(window->editor(), Qt::Key_F10, Qt::ShiftModifier); }),
              caret);
    EXPECT_EQ(PopupDuring([&] {
                  QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
                  QCoreApplication::sendEvent(window->editor(), &event); // the Menu key
              }),
              caret);
}

// ---- Qt's own texts and the timer ----

TEST(QtTexts, StandardButtonsSpeakChinese)
{
    ASSERT_TRUE(InstallQtChineseTranslation(*QCoreApplication::instance()))
        << "qtbase_zh_CN.qm missing: install qt6-translations-l10n";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')).left(1), QStringLiteral("是"));
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')).left(1), QStringLiteral("否"));
    EXPECT_TRUE(box.button(QMessageBox::Cancel)->text().startsWith(QStringLiteral("取消")));
}

// The three-button question answers Enter with Cancel: a stray key drops nothing.
TEST(QtTexts, EnterInTheSaveDiscardCancelQuestionIsCancel)
{
    QtPrompts prompts;
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    QTimer::singleShot(10000, [] { // watchdog only
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    EXPECT_EQ(prompts.ShowMessage(nullptr, QStringLiteral("是否关闭当前文档?\n(请注意保存)"), QStringLiteral("重要提示"),
                                  MessageIcon::None, MessageButtons::SaveDiscardCancel),
              MessageAnswer::Cancel);
}

// ---- Where file dialogs start ----

TEST(RecentFolders, EachKindStartsInTheFolderLastUsedForIt)
{
    RecentFolders recent;
    FileDialogRequest document;
    FileDialogRequest exported;
    exported.kind = FileKind::Export;
    exported.suggestedPath = QStringLiteral("/docs/a.txt");
    FileDialogRequest key;
    key.kind = FileKind::KeyFile;
    EXPECT_EQ(recent.StartPath(document), QString()); // the platform's default
    EXPECT_EQ(recent.StartPath(exported), QStringLiteral("/docs/a.txt"));

    recent.Remember(FileKind::Document, QStringLiteral("/work/notes/x.tvro"));
    recent.Remember(FileKind::KeyFile, QStringLiteral("/keys/k.bin"));
    EXPECT_EQ(recent.StartPath(document), QStringLiteral("/work/notes"));
    EXPECT_EQ(recent.StartPath(key), QStringLiteral("/keys"));
    EXPECT_EQ(recent.StartPath(exported), QStringLiteral("/docs/a.txt")); // not the documents' folder

    recent.Remember(FileKind::Export, QStringLiteral("/out/old.txt"));
    EXPECT_EQ(recent.StartPath(exported), QStringLiteral("/out/a.txt"));
}

TEST_F(WindowTest, ExportOffersTheDocumentsNameWithTxtInItsFolder)
{
    NewDocument(QStringLiteral("my notes.v2.tvro"), nullptr);
    prompts.AnswerFile(std::nullopt);
    window->OnFileExportTxt();
    const FileDialogRequest& request = prompts.shown.back().file;
    EXPECT_EQ(request.kind, FileKind::Export);
    EXPECT_EQ(request.suggestedPath, Path(QStringLiteral("my notes.v2.txt")));
}

// ---- Where "config" lives ----

TEST(SettingsPath, ReadOnlyExecutableFolderFallsBackToXdgConfigHome)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exeDir = dir.filePath(QStringLiteral("lib"));
    ASSERT_TRUE(QDir().mkpath(exeDir));
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
    EXPECT_EQ(SettingsFilePath(exeDir), exeDir + QStringLiteral("/config")); // portable install
    // A system install, whoever runs it, root included: never beside itself.
    for (const char* system : {"/usr/lib", "/usr/bin/"}) {
        if (QFileInfo::exists(QString::fromLatin1(system))) {
            EXPECT_EQ(SettingsFilePath(QString::fromLatin1(system)), dir.filePath(QStringLiteral("xdg/tavro/config")))
                << system;
        }
    }
    if (geteuid() == 0) {
        // Root writes every folder: one of another user's is still not root's own.
        ASSERT_EQ(::chown(QFile::encodeName(exeDir).constData(), 65534, 65534), 0);
        EXPECT_EQ(SettingsFilePath(exeDir), dir.filePath(QStringLiteral("xdg/tavro/config")));
        ASSERT_EQ(::chown(QFile::encodeName(exeDir).constData(), 0, 0), 0);
    }
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes every folder; run as another user to check the fallback";
    QFile::setPermissions(exeDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(SettingsFilePath(exeDir), dir.filePath(QStringLiteral("xdg/tavro/config")));
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(SettingsFilePath(exeDir), QDir::homePath() + QStringLiteral("/.config/tavro/config"));
    qunsetenv("XDG_CONFIG_HOME");
    QFile::setPermissions(exeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(WindowTest, SettingsFolderIsCreatedAtCloseAndReadAtStart)
{
    const QString config = Path(QStringLiteral("xdg/tavro/config"));
    window = std::make_unique<MainWindow>(prompts, config);
    window->OnInitDialog();
    window->OnToggleWordWrap();
    window->close(); // silently: no message
    EXPECT_EQ(QFileInfo(config).size(), kSettingsFileSize);
    window = std::make_unique<MainWindow>(prompts, config);
    window->OnInitDialog();
    EXPECT_FALSE(window->isWordWrap());
}

} // namespace
} // namespace tavro::test
