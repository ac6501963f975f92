// The Font command and the Help menu, driven through the window's commands.
#include "window_fixture.h"

#include "about_dialog.h"
#include "usage_notes_dialog.h"
#include "resource_ids.h"
#include "font_dialog.h"
#include "statement_dialog.h"

#include <QFontComboBox>
#include <QPushButton>

namespace tavro::test {
namespace {

const QString kText = QStringLiteral("第一行中文\nsecond line\n第三行");

class FontCommand : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        NewDocument(QStringLiteral("a.tvro"), u"pw");
        TypeText(kText);
        window->editor()->select(3, 3);
    }

    // The next font dialog is handled by handle, then closed by it.
    void AnswerFontDialog(std::function<void(FontDialog&)> handle)
    {
        prompts.AnswerModal([handle](QDialog& dialog) {
            auto& fontDialog = dynamic_cast<FontDialog&>(dialog);
            handle(fontDialog);
            return dialog.result();
        });
    }

    // Closes the window as the user would (discarding the typed text) and
    // starts a new one on the same "config".
    void Restart()
    {
        prompts.AnswerMessage(MessageAnswer::Discard);
        window->close();
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
    }

    static void ExpectShows(const TextEditor* editor, const QString& family, double points,
                            const QColor& color)
    {
        SCOPED_TRACE(editor->objectName().toStdString());
        EXPECT_EQ(editor->font().family(), family);
        EXPECT_DOUBLE_EQ(editor->font().pointSizeF(), points);
        EXPECT_EQ(editor->palette().color(QPalette::Active, QPalette::Text), color);
    }

    // The caret where SetUp left it, nothing selected.
    void ExpectCaretKept() const
    {
        EXPECT_EQ(window->editor()->selection(), std::make_pair(qsizetype{3}, qsizetype{3}));
    }
};

TEST_F(FontCommand, OkAppliesTheFormatToAllTheTextWhereItIs)
{
    const std::size_t shownBefore = prompts.shown.size();
    prompts.AnswerModal([](QDialog& dialog) {
        auto& d = dynamic_cast<FontDialog&>(dialog);
        EXPECT_EQ(d.sizeEdit()->text(), QStringLiteral("14")); // the window's current format
        d.sizeEdit()->setText(QStringLiteral("20"));
        d.OnChooseColor();
        d.OnOK();
        return dialog.result();
    });
    prompts.AnswerColor(QColor(0x20, 0x80, 0xC0));
    window->OnCommand(ID_SETTINGS_FONT); // as the menu item runs it

    ASSERT_EQ(prompts.shown.size(), shownBefore + 2);
    EXPECT_EQ(prompts.shown[shownBefore].text, QStringLiteral("tavro::FontDialog"));
    EXPECT_EQ(prompts.shown[shownBefore + 1].kind, ShownPrompt::Kind::Color);
    EXPECT_EQ(window->charFormat().yHeight(), 400);
    EXPECT_EQ(window->charFormat().crTextColor(), 0x00C08020u);
    EXPECT_EQ(window->charFormat().cbSize(), 116u); // set by the editor's application
    ExpectShows(window->editor(), QStringLiteral("微软雅黑"), 20.0, QColor(0x20, 0x80, 0xC0));
    ExpectCaretKept();
    EXPECT_EQ(EditorText(), kText);
}

TEST_F(FontCommand, OkWithoutChangesKeepsTheFormatAndTheCaret)
{
    const CharFormat2W before = window->charFormat();
    AnswerFontDialog([](FontDialog& d) { d.okButton()->click(); });
    window->OnSettingsFont();
    EXPECT_EQ(window->charFormat().bytes(), before.bytes());
    ExpectCaretKept();
}

TEST_F(FontCommand, CancelLeavesTheEditorsAndTheFormatAsTheyWere)
{
    const CharFormat2W before = window->charFormat();
    const QFont font = window->editor()->font();
    AnswerFontDialog([this](FontDialog& d) {
        d.fontList()->setCurrentIndex(0);
        d.OnFontSelected();
        d.sizeEdit()->setText(QStringLiteral("30"));
        prompts.AnswerColor(QColor(Qt::red));
        d.OnChooseColor();
        d.cancelButton()->click();
    });
    window->OnSettingsFont();

    EXPECT_EQ(window->charFormat().bytes(), before.bytes());
    ExpectShows(window->editor(), font.family(), font.pointSizeF(), QColor(Qt::black));
    ExpectCaretKept();
}

TEST_F(FontCommand, ChosenFontSurvivesARestartThroughConfig)
{
    QString face;
    AnswerFontDialog([&face](FontDialog& d) {
        d.fontList()->setCurrentIndex(d.fontList()->count() - 1);
        d.OnFontSelected();
        face = d.charFormat().faceName();
        d.sizeEdit()->setText(QStringLiteral("11"));
        d.OnOK();
    });
    window->OnSettingsFont();
    ASSERT_FALSE(face.isEmpty());
    ASSERT_NE(face, QStringLiteral("微软雅黑"));
    const CharFormat2W chosen = window->charFormat();

    Restart();
    EXPECT_EQ(window->charFormat().bytes(), chosen.bytes());
    const QByteArray config = ReadFile(QStringLiteral("config"));
    ASSERT_EQ(config.size(), 135);
    EXPECT_EQ(config.mid(19), QByteArray(reinterpret_cast<const char*>(chosen.bytes().data()), 116));
    ExpectShows(window->editor(), face, 121 / 20.0, QColor(Qt::black));

    // The next dialog opens on the stored format.
    AnswerFontDialog([&face](FontDialog& d) {
        EXPECT_EQ(d.sizeEdit()->text(), QStringLiteral("11"));
        EXPECT_EQ(d.charFormat().faceName(), face);
        d.OnCancel();
    });
    window->OnSettingsFont();
}

TEST_F(FontCommand, HelpCommandsShowTheirDialogsOverTheWindowAndChangeNothing)
{
    const struct {
        int id;
        const char* dialogClass;
    } commands[] = {{ID_HELP_USAGE_NOTES, "tavro::UsageNotesDialog"},
                    {ID_HELP_STATEMENT, "tavro::StatementDialog"},
                    {ID_HELP_ABOUT, "tavro::AboutDialog"}};
    const QString title = window->windowTitle();
    for (const auto& command : commands) {
        SCOPED_TRACE(command.dialogClass);
        prompts.AnswerModal([this](QDialog& dialog) {
            EXPECT_EQ(dialog.parentWidget(), window.get());
            dialog.reject();
            return int{QDialog::Rejected};
        });
        window->OnCommand(command.id);
        EXPECT_EQ(prompts.shown.back().kind, ShownPrompt::Kind::Modal);
        EXPECT_EQ(prompts.shown.back().text, QString::fromLatin1(command.dialogClass));
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(EditorText(), kText);
    }
}

} // namespace
} // namespace tavro::test
