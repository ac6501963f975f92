#include "document_file.h"
#include "support/password_key.h"
#include "menus.h"
#include "settings_file.h"
#include "window_fixture.h"

#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QAbstractTextDocumentLayout>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>

#include <unistd.h>

namespace tavro::test {
namespace {

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

using MainWindow = WindowTest;

TEST_F(MainWindow, FirstStartHasEveryDefault)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tavro文本加密 v2.0 - [没有正在编辑的文件]"));
    EXPECT_TRUE(window->isWordWrap());
    EXPECT_EQ(window->activeEditor(), window->wrapEditor());
    EXPECT_TRUE(window->noWrapEditor()->isHidden());
    EXPECT_TRUE(window->isAutoSave());
    EXPECT_TRUE(window->isAutoSaveTimerRunning());
    EXPECT_FALSE(window->noWrapEditor()->isEnabled());
    EXPECT_FALSE(window->wrapEditor()->isEnabled());
    EXPECT_EQ(g_charFormat.faceName(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(g_charFormat.yHeight(), 196);
    EXPECT_EQ(g_charFormat.crTextColor(), 0u);
    EXPECT_EQ(window->configPath(), Path(QStringLiteral("config")));
}

TEST_F(MainWindow, MenuBarHoldsEveryItemInOrder)
{
    const auto popups = MainMenu();
    ASSERT_EQ(window->menuBar()->actions().size(), static_cast<qsizetype>(popups.size()));
    for (std::size_t p = 0; p < popups.size(); ++p) {
        QMenu* popup = window->menuPopup(static_cast<int>(p));
        EXPECT_EQ(popup->title(), QString::fromUtf16(popups[p].label));
        ASSERT_EQ(popup->actions().size(), static_cast<qsizetype>(popups[p].items.size()));
        for (std::size_t i = 0; i < popups[p].items.size(); ++i) {
            QAction* action = popup->actions()[static_cast<qsizetype>(i)];
            const MenuItemDef& item = popups[p].items[i];
            EXPECT_EQ(action->isSeparator(), item.id == 0);
            if (item.id != 0) {
                EXPECT_EQ(action->text(), QString::fromUtf16(item.label));
            }
        }
    }
    EXPECT_EQ(window->commandAction(ID_FILE_SAVE)->text(), QStringLiteral("保存(&S)\tCtrl + S"));
    EXPECT_EQ(window->commandAction(ID_AUTO_SAVE)->text(), QStringLiteral("自动保存 60s(&A)"));
}

TEST_F(MainWindow, WordWrapMovesTheTextAndKeepsTheLock)
{
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    const QString text = QStringLiteral("一行很长的文字 ") .repeated(40) + QStringLiteral("\nsecond");
    TypeText(text);
    window->LockEditors();
    window->OnToggleWordWrap();
    EXPECT_FALSE(window->isWordWrap());
    EXPECT_EQ(window->activeEditor(), window->noWrapEditor());
    EXPECT_EQ(window->noWrapEditor()->GetWindowText(), text);
    EXPECT_EQ(window->wrapEditor()->GetWindowText(), QString());
    EXPECT_TRUE(window->noWrapEditor()->isReadOnly());
    EXPECT_TRUE(window->wrapEditor()->isHidden());
    EXPECT_FALSE(window->wrapEditor()->isEnabled());
    qsizetype start = -1, end = -1;
    window->activeEditor()->GetSel(start, end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, text.size());
    window->OnToggleWordWrap();
    EXPECT_EQ(window->activeEditor()->GetWindowText(), text);
}

TEST_F(MainWindow, WordWrapHandsTheDocumentOverAndWrapsAtTheShownWidth)
{
    window->OnToggleWordWrap(); // off before the window is first shown, as from the settings
    ShowActive();
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    window->OnToggleWordWrap();
    TypeText(QStringLiteral("一行很长的文字 ").repeated(60));
    QTextDocument* document = window->activeEditor()->document();
    const QPointer<QAbstractTextDocumentLayout> firstLayout = document->documentLayout();
    window->OnToggleWordWrap();
    window->OnToggleWordWrap();
    // The same document, with its modification flag and undo history; the
    // hidden editor has an empty one of its own, and no layout is left over.
    EXPECT_EQ(window->wrapEditor()->document(), document);
    EXPECT_TRUE(document->isModified());
    EXPECT_TRUE(window->noWrapEditor()->document()->isEmpty());
    EXPECT_EQ(window->noWrapEditor()->document()->defaultFont(), window->noWrapEditor()->font());
    EXPECT_FALSE(firstLayout);
    // The long line wraps at the width of the editor shown, also when it narrows.
    const auto height = [document] {
        return document->documentLayout()->blockBoundingRect(document->firstBlock()).height();
    };
    const qreal wide = height();
    window->resize(window->width() / 2, window->height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return height() > wide; }));
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QString());
}

TEST_F(MainWindow, WordWrapWithoutDocumentLeavesTheEditorsDisabled)
{
    window->OnToggleWordWrap();
    EXPECT_FALSE(window->noWrapEditor()->isEnabled());
    EXPECT_FALSE(window->wrapEditor()->isEnabled());
    EXPECT_TRUE(window->noWrapEditor()->isVisibleTo(window.get()));
}

// ---- Start-up with a document named on the command line ----

class CommandLine : public WindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        g_documentKey.fill(0);
        window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
    }
};

TEST_F(CommandLine, OpensTheDocumentLockedAfterThePassword)
{
    WriteFile(QStringLiteral("my notes.tvro"), Encrypt(QStringLiteral("早上好"), tavro::test::PasswordKey(u"pw")));
    AnswerPassword(QStringLiteral("pw"));
    // The shell split the path at its blank.
    window->OnInitDialog({dir.path() + QStringLiteral("/my"), QStringLiteral("notes.tvro")});
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("tavro::SetPassword"));
    EXPECT_EQ(window->windowTitle(), kLockedTitlePrefix + QStringLiteral("[my notes.tvro]"));
    EXPECT_EQ(EditorText(), QStringLiteral("早上好"));
    EXPECT_TRUE(window->isLocked());
    EXPECT_TRUE(window->activeEditor()->isEnabled());
}

TEST_F(CommandLine, CancelledPasswordReadsWithTheZeroKey)
{
    WriteFile(QStringLiteral("z.tvro"), Encrypt(QStringLiteral("zero"), kZeroKey));
    CancelPassword();
    window->OnInitDialog({Path(QStringLiteral("z.tvro"))});
    EXPECT_EQ(EditorText(), QStringLiteral("zero"));
}

TEST_F(CommandLine, MissingOrQuotedPathStartsWithoutDocument)
{
    WriteFile(QStringLiteral("q.tvro"), Encrypt(QStringLiteral("q"), kZeroKey));
    window->OnInitDialog({QLatin1Char('"') + Path(QStringLiteral("q.tvro")) + QLatin1Char('"')});
    EXPECT_FALSE(window->isDocumentOpen());
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(window->windowTitle(), kTitlePrefix + QStringLiteral("[没有正在编辑的文件]"));
}

TEST_F(CommandLine, DamagedDocumentWarns)
{
    QByteArray file = Encrypt(QStringLiteral("0123456789abcdef"), kZeroKey);
    file[1] = static_cast<char>(file[1] ^ 1);
    WriteFile(QStringLiteral("d.tvro"), file);
    CancelPassword();
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->OnInitDialog({Path(QStringLiteral("d.tvro"))});
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("警告"));
    EXPECT_EQ(EditorText(), QStringLiteral("0123456789abcdef"));
}

// ---- The settings file ----

TEST(SettingsRecord, ShortDataKeepsTheDefaultsItDoesNotReach)
{
    SettingsRecord defaults;
    defaults.geometry = {0, 10, 20, 800, 600};
    SettingsRecord stored;
    stored.geometry = {1, -5, 7, 1024, 700};
    stored.autoSave = false;
    stored.wordWrap = false;
    stored.charFormat.setYHeight(400);
    const QByteArray bytes = SerializeSettings(stored);
    ASSERT_EQ(bytes.size(), 135);
    EXPECT_EQ(bytes.mid(19, 4), QByteArray("\x5c\x00\x00\x00", 4)); // cbSize 92 as set at start

    const SettingsRecord whole = ParseSettings(bytes, defaults);
    EXPECT_EQ(SerializeSettings(whole), bytes);

    // 11 bytes: maximized, left, top and half of width.
    const SettingsRecord part = ParseSettings(QByteArrayView(bytes).first(11), defaults);
    EXPECT_EQ(part.geometry.maximized, 1);
    EXPECT_EQ(part.geometry.left, -5);
    EXPECT_EQ(part.geometry.top, 7);
    EXPECT_EQ(part.geometry.width, (800 & ~0xFFFF) | (1024 & 0xFFFF));
    EXPECT_EQ(part.geometry.height, 600);
    EXPECT_TRUE(part.autoSave);
    EXPECT_EQ(part.charFormat, defaults.charFormat);

    const SettingsRecord empty = ParseSettings(QByteArrayView(), defaults);
    EXPECT_EQ(SerializeSettings(empty), SerializeSettings(defaults));
}

TEST(SettingsRecord, EveryFieldIsWhereTheLayoutSays)
{
    // A different value in every field, so a field written in another's
    // place shows; little-endian, packed.
    SettingsRecord record;
    record.geometry = {1, -2, 0x01020304, 0x0A0B, 0x0C0D0E};
    record.autoSave = false;
    record.wordWrap = true;
    record.charFormat.setYHeight(0x1234);
    const QByteArray bytes = SerializeSettings(record);
    ASSERT_EQ(bytes.size(), 135);
    EXPECT_EQ(bytes.mid(0, 1), QByteArray("\x01", 1));
    EXPECT_EQ(bytes.mid(1, 4), QByteArray("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(bytes.mid(5, 4), QByteArray("\x04\x03\x02\x01", 4));
    EXPECT_EQ(bytes.mid(9, 4), QByteArray("\x0b\x0a\x00\x00", 4));
    EXPECT_EQ(bytes.mid(13, 4), QByteArray("\x0e\x0d\x0c\x00", 4));
    EXPECT_EQ(bytes[17], 0);
    EXPECT_EQ(bytes[18], 1);
    EXPECT_EQ(bytes.mid(19 + 12, 4), QByteArray("\x34\x12\x00\x00", 4)); // height in twips
    EXPECT_EQ(bytes.mid(19), QByteArray(reinterpret_cast<const char*>(record.charFormat.bytes().data()), 116));
}

class Settings : public WindowTest {
protected:
    // Closes the window as the user would and starts a new one on the same file.
    void Restart()
    {
        window->close();
        window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
    }

    QByteArray Config() const { return ReadFile(QStringLiteral("config")); }
};

TEST_F(Settings, CloseWritesTheFileAndRestartRestoresIt)
{
    window->OnToggleWordWrap();
    window->OnToggleAutoSave();
    Restart();
    const QByteArray config = Config();
    ASSERT_EQ(config.size(), 135);
    EXPECT_EQ(config.mid(19, 4), QByteArray("\x74\x00\x00\x00", 4));
    EXPECT_EQ(config[17], 0);
    EXPECT_EQ(config[18], 0);
    EXPECT_FALSE(window->isWordWrap());
    EXPECT_EQ(window->activeEditor(), window->noWrapEditor());
    EXPECT_FALSE(window->commandAction(ID_WORD_WRAP)->isChecked());
    EXPECT_FALSE(window->isAutoSave());
    EXPECT_FALSE(window->isAutoSaveTimerRunning());
    EXPECT_FALSE(window->commandAction(ID_AUTO_SAVE)->isChecked());
    EXPECT_FALSE(window->noWrapEditor()->isEnabled()); // still no document
}

TEST_F(Settings, StoredPlacementIsApplied)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    SettingsRecord record;
    record.geometry = {0, screen.left() + 40, screen.top() + 30, 500, 400};
    WriteFile(QStringLiteral("config"), SerializeSettings(record));
    Restart();
    // Restart rewrote the file from the first window; write ours again.
    WriteFile(QStringLiteral("config"), SerializeSettings(record));
    window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(screen.left() + 40, screen.top() + 30));
    EXPECT_EQ(window->frameGeometry().size(), QSize(500, 400));
}

TEST_F(Settings, StoredWindow250PixelsTallIsRestored)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    SettingsRecord record;
    record.geometry = {0, screen.left() + 10, screen.top() + 20, 600, 250};
    WriteFile(QStringLiteral("config"), SerializeSettings(record));
    window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_EQ(window->frameGeometry(), QRect(screen.left() + 10, screen.top() + 20, 600, 250));
}

TEST_F(Settings, UnusableOrEmptyPlacementKeepsTheDefaultWindow)
{
    const QSize defaultSize = window->size();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const WindowGeometry unusable[] = {
        {0, 0, 0, 0, 0},                                    // a 0-byte file
        {0, 10, 10, 20, 400},                               // too narrow
        {0, screen.right() + 5000, screen.bottom() + 5000, 800, 600}, // off every screen
    };
    for (const WindowGeometry& geometry : unusable) {
        SettingsRecord record;
        record.geometry = geometry;
        const QByteArray bytes = geometry.width == 0 ? QByteArray() : SerializeSettings(record);
        WriteFile(QStringLiteral("config"), bytes);
        window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
        EXPECT_EQ(window->size(), defaultSize);
        EXPECT_TRUE(screen.intersects(window->frameGeometry()));
    }
}

TEST_F(Settings, UnwritableSettingsFileIsReportedAtClose)
{
    QDir(dir.path()).mkdir(QStringLiteral("config")); // a folder where the file should be
    window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_TRUE(window->isWordWrap()); // defaults
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->close();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("未能保存当前设置,无法在文件位置写入配置信息."));
    EXPECT_EQ(prompts.shown.back().caption, ApplicationName());
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::None);
}

TEST_F(Settings, ReadOnlySettingsFileIsIgnoredAndReportedAtClose)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files; run as another user to check";
    SettingsRecord record;
    record.wordWrap = false;
    WriteFile(QStringLiteral("config"), SerializeSettings(record));
    QFile::setPermissions(Path(QStringLiteral("config")), QFileDevice::ReadOwner);
    window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_TRUE(window->isWordWrap()); // not read: it must be writable too
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->close();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("未能保存当前设置,无法在文件位置写入配置信息."));
}

} // namespace
} // namespace tavro::test
