#include "document_file.h"
#include "support/password_key.h"
#include "resource_ids.h"
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

#include <functional>

#include <unistd.h>

namespace tavro::test {
namespace {

QByteArray Encrypt(const QString& text, const DocumentKey& key)
{
    const auto bytes = EncryptDocument(text.toStdU16String(), key);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, FirstStartHasEveryDefault)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tavro文本加密 v2.0 - [没有正在编辑的文件]"));
    EXPECT_TRUE(window->isWordWrap());
    EXPECT_EQ(window->editor()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_TRUE(window->isAutoSave());
    EXPECT_TRUE(window->autoSave().timer().isActive());
    EXPECT_EQ(window->autoSave().timer().interval(), 60000);
    EXPECT_EQ(window->autoSave().timer().timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(window->editor()->isEnabled());
    EXPECT_EQ(window->charFormat().faceName(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(window->charFormat().yHeight(), 196);
    EXPECT_EQ(window->charFormat().crTextColor(), 0u);
    EXPECT_EQ(window->configPath(), Path(QStringLiteral("config")));
}

TEST_F(MainWindowTest, MenuBarHoldsEveryItemInOrderWithItsShortcut)
{
    struct Item {
        const char* label; // nullptr: a separator
        QKeySequence shortcut;
    };
    const std::vector<std::pair<const char*, std::vector<Item>>> menus = {
        {"编辑保护(&D)",
         {{"锁定文本(&L)\tAlt + L", QKeySequence("Alt+L")},
          {"解除锁定(&U)\tAlt + U", QKeySequence("Alt+U")},
          {nullptr, {}},
          {"隐藏文本(&Y)\tAlt + Y", QKeySequence("Alt+Y")},
          {"显示文本(&X)...\tAlt + X", QKeySequence("Alt+X")}}},
        {"文件(&F)",
         {{"新建(&N)\tCtrl + N", QKeySequence("Ctrl+N")},
          {"打开(&O)...\tCtrl + O", QKeySequence("Ctrl+O")},
          {"保存(&S)\tCtrl + S", QKeySequence("Ctrl+S")},
          {"另存为(&A)...", {}},
          {"导出为txt文件(&T)...", {}},
          {"历史版本(&V)...", {}},
          {nullptr, {}},
          {"关闭当前文件(&C)", {}},
          {"退出程序(&X)", {}}}},
        {"编辑(&E)",
         {{"撤销(&Z)\tCtrl + Z", {}},
          {nullptr, {}},
          {"剪切(&T)\tCtrl + T", {}},
          {"复制(&C)\tCtrl + C", {}},
          {"粘贴(&P)\tCtrl + V", {}},
          {"删除(&L)\tDel", {}},
          {"全选(&A)\tCtrl + A", {}},
          {nullptr, {}},
          {"查找(&F)...\tCtrl + F", QKeySequence("Ctrl+F")},
          {"替换(&R)...\tCtrl + H", QKeySequence("Ctrl+H")}}},
        {"设置(&S)",
         {{"密码(&P)...\tCtrl + P", QKeySequence("Ctrl+P")},
          {"字体(&F)...", {}},
          {"隐私保护(&Y)...", {}},
          {nullptr, {}},
          {"自动换行(&W)\tAlt + W", QKeySequence("Alt+W")},
          {"自动保存 60s(&A)", {}}}},
        {"帮助(&H)", {{"使用注意(重要)...", {}}, {"安全申明及原理...", {}}, {"关于...", {}}}},
    };
    ASSERT_EQ(window->menuBar()->actions().size(), static_cast<qsizetype>(menus.size()));
    for (std::size_t p = 0; p < menus.size(); ++p) {
        QMenu* popup = window->menuPopup(static_cast<int>(p));
        EXPECT_EQ(popup->title(), QString::fromUtf8(menus[p].first));
        const std::vector<Item>& items = menus[p].second;
        ASSERT_EQ(popup->actions().size(), static_cast<qsizetype>(items.size()));
        for (std::size_t i = 0; i < items.size(); ++i) {
            const QAction* action = popup->actions()[static_cast<qsizetype>(i)];
            EXPECT_EQ(action->isSeparator(), items[i].label == nullptr);
            if (items[i].label) {
                EXPECT_EQ(action->text(), QString::fromUtf8(items[i].label));
                EXPECT_EQ(action->shortcut(), items[i].shortcut) << items[i].label;
            }
        }
    }
    EXPECT_EQ(window->commandAction(ID_FILE_SAVE)->text(), QStringLiteral("保存(&S)\tCtrl + S"));
}

TEST_F(MainWindowTest, WordWrapChangesOnlyTheLayout)
{
    ShowActive();
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    const QString line = QStringLiteral("一行很长的文字 ").repeated(40);
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QStringLiteral("%1 ").arg(i) + line;
    const QString text = lines.join(QLatin1Char('\n'));
    TypeText(text);
    QTextDocument* document = window->editor()->document();
    const QTextBlock middle = document->findBlockByNumber(120);
    window->editor()->select(middle.position() + 3, middle.position() + 3);
    window->editor()->scrollToTop(document->findBlockByNumber(100).position());
    const qsizetype top = window->editor()->topPosition();
    window->LockEditors();

    window->OnToggleWordWrap();
    EXPECT_FALSE(window->isWordWrap());
    EXPECT_EQ(window->editor()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(window->editor()->document(), document); // the same text, history and state
    EXPECT_EQ(EditorText(), text);
    EXPECT_TRUE(window->editor()->isReadOnly());
    // The caret where it was, nothing selected, the same line at the top.
    const qsizetype caret = middle.position() + 3;
    EXPECT_EQ(window->editor()->selection(), std::make_pair(caret, caret));
    EXPECT_EQ(document->findBlock(static_cast<int>(window->editor()->topPosition())).blockNumber(), 100);

    window->OnToggleWordWrap();
    EXPECT_EQ(window->editor()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(window->editor()->topPosition(), top);
    EXPECT_EQ(window->editor()->selection(), std::make_pair(caret, caret));
    window->OnUnlock();
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QString()); // the typing is still in the history
}

TEST_F(MainWindowTest, WordWrapWrapsAtTheShownWidth)
{
    window->OnToggleWordWrap(); // off before the window is first shown, as from the settings
    ShowActive();
    NewDocument(QStringLiteral("a.tvro"), nullptr);
    window->OnToggleWordWrap();
    TypeText(QStringLiteral("一行很长的文字 ").repeated(60));
    QTextDocument* document = window->editor()->document();
    // The long line wraps at the width of the editor, also when it narrows.
    const auto height = [document] {
        return document->documentLayout()->blockBoundingRect(document->firstBlock()).height();
    };
    const qreal wide = height();
    window->resize(window->width() / 2, window->height());
    EXPECT_TRUE(QTest::qWaitFor([&] { return height() > wide; }));
}

TEST_F(MainWindowTest, WordWrapWithoutDocumentLeavesTheEditorDisabled)
{
    window->OnToggleWordWrap();
    EXPECT_FALSE(window->editor()->isEnabled());
    EXPECT_TRUE(window->editor()->isVisibleTo(window.get()));
}

// ---- Start-up with a document named on the command line ----

class CommandLine : public WindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
    }
};

TEST_F(CommandLine, OpensTheDocumentLockedAfterThePassword)
{
    WriteFile(QStringLiteral("my notes.tvro"), Encrypt(QStringLiteral("早上好"), tavro::test::PasswordKey(u"pw")));
    AnswerPassword(QStringLiteral("pw"));
    // The shell split the path at its blank.
    window->OnInitDialog({dir.path() + QStringLiteral("/my"), QStringLiteral("notes.tvro")});
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("tavro::PasswordDialog"));
    EXPECT_EQ(window->windowTitle(), kLockedTitlePrefix + QStringLiteral("[my notes.tvro]"));
    EXPECT_EQ(EditorText(), QStringLiteral("早上好"));
    EXPECT_TRUE(window->isLocked());
    EXPECT_TRUE(window->editor()->isEnabled());
    EXPECT_FALSE(window->isModified());
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

// Each field a font dialog could never have written falls back to the
// default's alone; the fields beside it stay as stored.
TEST(SettingsRecord, HostileFormatFieldsFallBackOneByOne)
{
    const CharFormat2W fallback = CharFormat2W::Default();
    CharFormat2W sound = fallback;
    sound.setFaceName(QStringLiteral("Noto Sans"));
    sound.setYHeight(400);
    sound.setCrTextColor(0x00123456);
    constexpr std::size_t kFace = 26; // the face name's offset in the format
    struct Case {
        const char* what;
        std::function<void(CharFormat2W&)> spoil;
        bool face, height, colour; // which fields must fall back
    };
    const Case cases[] = {
        {"sound", [](CharFormat2W&) {}, false, false, false},
        {"unterminated face", [](CharFormat2W& f) { std::fill_n(f.bytes().begin() + kFace, 64, std::uint8_t{'A'}); },
         true, false, false},
        {"empty face", [](CharFormat2W& f) { f.setFaceName(QString()); }, true, false, false},
        {"control in face", [](CharFormat2W& f) { f.setFaceName(QStringLiteral("a\x01b")); }, true, false, false},
        {"lone surrogate", [](CharFormat2W& f) { f.setFaceName(QString(QChar(0xD800)) + QStringLiteral("x")); }, true,
         false, false},
        {"height 8.5e7 pt", [](CharFormat2W& f) { f.setYHeight(1700000000); }, false, true, false},
        {"height below size 8", [](CharFormat2W& f) { f.setYHeight(63); }, false, true, false},
        {"height negative", [](CharFormat2W& f) { f.setYHeight(-196); }, false, true, false},
        {"colour high byte", [](CharFormat2W& f) { f.setCrTextColor(0x01000000); }, false, false, true},
        {"all three", [](CharFormat2W& f) {
             f.setFaceName(QString());
             f.setYHeight(14401);
             f.setCrTextColor(0xFF000000);
         }, true, true, true},
    };
    for (const Case& c : cases) {
        CharFormat2W stored = sound;
        c.spoil(stored);
        SettingsRecord record;
        record.charFormat = stored;
        SettingsRecord defaults;
        const CharFormat2W read = ParseSettings(SerializeSettings(record), defaults).charFormat;
        EXPECT_EQ(read.faceName(), c.face ? fallback.faceName() : stored.faceName()) << c.what;
        EXPECT_EQ(read.yHeight(), c.height ? fallback.yHeight() : stored.yHeight()) << c.what;
        EXPECT_EQ(read.crTextColor(), c.colour ? fallback.crTextColor() : stored.crTextColor()) << c.what;
    }
    // Sizes 8 and 120, the font dialog's ends, are kept.
    for (const std::int32_t height : {64, 14400}) {
        SettingsRecord record;
        record.charFormat = sound;
        record.charFormat.setYHeight(height);
        EXPECT_EQ(ParseSettings(SerializeSettings(record), SettingsRecord()).charFormat.yHeight(), height);
    }
}

class Settings : public WindowTest {
protected:
    // Closes the window as the user would and starts a new one on the same file.
    void Restart()
    {
        window->close();
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
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
    EXPECT_EQ(window->editor()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_FALSE(window->commandAction(ID_WORD_WRAP)->isChecked());
    EXPECT_FALSE(window->isAutoSave());
    EXPECT_FALSE(window->autoSave().timer().isActive());
    EXPECT_FALSE(window->commandAction(ID_AUTO_SAVE)->isChecked());
    EXPECT_FALSE(window->editor()->isEnabled()); // still no document
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
    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(screen.left() + 40, screen.top() + 30));
    EXPECT_EQ(window->frameGeometry().size(), QSize(500, 400));
}

TEST_F(Settings, AMovedWindowStaysWhereItWasMoved)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window->show();
    window->move(screen.left() + 70, screen.top() + 50);
    const QRect moved = window->frameGeometry();
    Restart();
    EXPECT_EQ(window->frameGeometry(), moved);
}

TEST_F(Settings, StoredWindow250PixelsTallIsRestored)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    SettingsRecord record;
    record.geometry = {0, screen.left() + 10, screen.top() + 20, 600, 250};
    WriteFile(QStringLiteral("config"), SerializeSettings(record));
    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
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
        {0, 0, 0, 2000000000, 2000000000},                  // larger than every screen
        {0, 2147483000, 0, 800, 600},                       // a corner past int's range
    };
    for (const WindowGeometry& geometry : unusable) {
        SettingsRecord record;
        record.geometry = geometry;
        const QByteArray bytes = geometry.width == 0 ? QByteArray() : SerializeSettings(record);
        WriteFile(QStringLiteral("config"), bytes);
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
        EXPECT_EQ(window->size(), defaultSize);
        EXPECT_TRUE(screen.intersects(window->frameGeometry()));
    }
}

TEST_F(Settings, UnwritableSettingsFileIsReportedAtClose)
{
    QDir(dir.path()).mkdir(QStringLiteral("config")); // a folder where the file should be
    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
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
    window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
    window->OnInitDialog();
    EXPECT_TRUE(window->isWordWrap()); // not read: it must be writable too
    prompts.AnswerMessage(MessageAnswer::Ok);
    window->close();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("未能保存当前设置,无法在文件位置写入配置信息."));
}

} // namespace
} // namespace tavro::test
