// The Font command and the Help menu, driven through the window's commands.
#include "window_fixture.h"

#include "about_dlg.h"
#include "imp_dlg.h"
#include "resource_ids.h"
#include "set_font_dialog.h"
#include "statement.h"

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
        window->activeEditor()->SetSel(3, 3);
    }

    // The next font dialog is handled by handle, then closed by it.
    void AnswerFontDialog(std::function<void(SETFONTDialog&)> handle)
    {
        prompts.AnswerModal([handle](QDialog& dialog) {
            auto& fontDialog = dynamic_cast<SETFONTDialog&>(dialog);
            handle(fontDialog);
            return int{QDialog::Rejected};
        });
    }

    // Closes the window as the user would and starts a new one on the same "config".
    void Restart()
    {
        if (window->isModified())
            prompts.AnswerMessage(MessageAnswer::Discard);
        window->close();
        window = std::make_unique<CTavroTextEditorDlg>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
    }

    static void ExpectShows(const CRichEditCtrl* editor, const QString& family, double points,
                            const QColor& color)
    {
        SCOPED_TRACE(editor->objectName().toStdString());
        EXPECT_EQ(editor->font().family(), family);
        EXPECT_DOUBLE_EQ(editor->font().pointSizeF(), points);
        EXPECT_EQ(editor->palette().color(QPalette::Active, QPalette::Text), color);
    }

    static void ExpectAllSelected(const CRichEditCtrl* editor)
    {
        qsizetype start = -1;
        qsizetype end = -1;
        editor->GetSel(start, end);
        EXPECT_EQ(start, 0) << editor->objectName().toStdString();
        EXPECT_EQ(end, editor->GetTextLength()) << editor->objectName().toStdString();
    }
};

TEST_F(FontCommand, OkAppliesTheFormatToBothEditorsAndSelectsAllTheirText)
{
    g_bFontAccepted = true; // left over from an earlier run: cleared before the dialog
    const std::size_t shownBefore = prompts.shown.size();
    prompts.AnswerModal([](QDialog& dialog) {
        auto& d = dynamic_cast<SETFONTDialog&>(dialog);
        EXPECT_EQ(d.sizeEdit()->text(), QStringLiteral("14")); // the window's current format
        EXPECT_FALSE(g_bFontAccepted);
        d.sizeEdit()->setText(QStringLiteral("20"));
        d.OnChooseColor();
        d.OnOK();
        return int{QDialog::Rejected};
    });
    prompts.AnswerColor(QColor(0x20, 0x80, 0xC0));
    window->OnCommand(ID_SETTINGS_FONT); // as the menu item runs it

    ASSERT_EQ(prompts.shown.size(), shownBefore + 2);
    EXPECT_EQ(prompts.shown[shownBefore].text, QStringLiteral("tavro::SETFONTDialog"));
    EXPECT_EQ(prompts.shown[shownBefore + 1].kind, ShownPrompt::Kind::Color);
    EXPECT_TRUE(g_bFontAccepted);
    EXPECT_EQ(g_charFormat.yHeight(), 400);
    EXPECT_EQ(g_charFormat.crTextColor(), 0x00C08020u);
    EXPECT_EQ(g_charFormat.cbSize(), 116u); // set by the editors' application
    for (const CRichEditCtrl* editor : {window->noWrapEditor(), window->wrapEditor()}) {
        ExpectShows(editor, QStringLiteral("微软雅黑"), 20.0, QColor(0x20, 0x80, 0xC0));
        ExpectAllSelected(editor);
    }
    EXPECT_EQ(EditorText(), kText);
}

TEST_F(FontCommand, OkWithoutChangesReappliesTheFormatAndSelectsAll)
{
    const CharFormat2W before = g_charFormat;
    AnswerFontDialog([](SETFONTDialog& d) { d.okButton()->click(); });
    window->OnSettingsFont();
    EXPECT_TRUE(g_bFontAccepted);
    EXPECT_EQ(g_charFormat.bytes(), before.bytes());
    ExpectAllSelected(window->activeEditor());
}

TEST_F(FontCommand, CancelLeavesTheEditorsAndTheFormatAsTheyWere)
{
    const CharFormat2W before = g_charFormat;
    const QFont font = window->activeEditor()->font();
    AnswerFontDialog([this](SETFONTDialog& d) {
        d.fontList()->setCurrentIndex(0);
        d.OnFontSelected();
        d.sizeEdit()->setText(QStringLiteral("30"));
        prompts.AnswerColor(QColor(Qt::red));
        d.OnChooseColor();
        d.cancelButton()->click();
    });
    window->OnSettingsFont();

    EXPECT_FALSE(g_bFontAccepted);
    EXPECT_EQ(g_charFormat.bytes(), before.bytes());
    for (const CRichEditCtrl* editor : {window->noWrapEditor(), window->wrapEditor()})
        ExpectShows(editor, font.family(), font.pointSizeF(), QColor(Qt::black));
    qsizetype start = -1;
    qsizetype end = -1;
    window->activeEditor()->GetSel(start, end);
    EXPECT_EQ(start, 3); // not re-applied: the caret stays where it was
    EXPECT_EQ(end, 3);
}

TEST_F(FontCommand, ChosenFontSurvivesARestartThroughConfig)
{
    QString face;
    AnswerFontDialog([&face](SETFONTDialog& d) {
        d.fontList()->setCurrentIndex(d.fontList()->count() - 1);
        d.OnFontSelected();
        face = d.charFormat().faceName();
        d.sizeEdit()->setText(QStringLiteral("11"));
        d.OnOK();
    });
    window->OnSettingsFont();
    ASSERT_FALSE(face.isEmpty());
    ASSERT_NE(face, QStringLiteral("微软雅黑"));
    const CharFormat2W chosen = g_charFormat;

    Restart();
    EXPECT_EQ(g_charFormat.bytes(), chosen.bytes());
    const QByteArray config = ReadFile(QStringLiteral("config"));
    ASSERT_EQ(config.size(), 135);
    EXPECT_EQ(config.mid(19), QByteArray(reinterpret_cast<const char*>(chosen.bytes().data()), 116));
    for (const CRichEditCtrl* editor : {window->noWrapEditor(), window->wrapEditor()})
        ExpectShows(editor, face, 121 / 20.0, QColor(Qt::black));

    // The next dialog opens on the stored format.
    AnswerFontDialog([&face](SETFONTDialog& d) {
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
    } commands[] = {{ID_HELP_USAGE_NOTES, "tavro::ImpDlg"},
                    {ID_HELP_STATEMENT, "tavro::Statement"},
                    {ID_HELP_ABOUT, "tavro::AboutDlg"}};
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
