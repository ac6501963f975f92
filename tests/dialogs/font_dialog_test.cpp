#include "font_dialog.h"

#include "text_editor.h"
#include "support/qt_application.h"
#include "support/scripted_prompts.h"

#include "support/dialog_harness.h"

#include <gtest/gtest.h>

#include <QFontComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <functional>
#include <numeric>
#include <utility>

using tavro::CharFormat2W;
using tavro::kCharFormat2WSize;
using tavro::kCharFormatWSize;
using tavro::FontDialog;
using tavro::test::ScriptedPrompts;
using tavro::test::ShownPrompt;

namespace {

// Scripted prompts that also keep the colour each colour chooser opened on.
class ColorPrompts : public ScriptedPrompts {
public:
    std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) override
    {
        initialColors.push_back(initial);
        return ScriptedPrompts::ChooseColor(owner, initial);
    }
    std::vector<QColor> initialColors;
};

// A dialog on screen, as the Font command runs it.
using tavro::test::kNoResult;
using Harness = tavro::test::DialogHarness<FontDialog, ColorPrompts>;

// A format unlike the default in every field the dialog edits, with bytes
// in the tail (92..115) that the dialog must never touch.
CharFormat2W StoredFormat()
{
    CharFormat2W format = CharFormat2W::Default();
    format.setCbSize(116);
    format.setYHeight(256); // size 16
    format.setCrTextColor(0x00123456);
    format.setFaceName(QStringLiteral("DejaVu Serif"));
    format.bytes()[24] = 134; // bCharSet: GB2312
    auto tail = format.bytes().begin() + kCharFormatWSize;
    std::iota(tail, format.bytes().end(), std::uint8_t{0xA0});
    return format;
}

class FontDialogTest : public ::testing::Test {
protected:
    CharFormat2W stored = StoredFormat(); // the editor's format the dialog opens on
};

QGroupBox* GroupTitled(const QDialog& dialog, const QString& title)
{
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>())
        if (box->title() == title)
            return box;
    return nullptr;
}

QLabel* LabelWithText(const QDialog& dialog, const QString& text)
{
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text() == text)
            return label;
    return nullptr;
}

// Types into the size field as the user does, key by key.
void Type(QLineEdit* edit, const QString& keys)
{
    edit->setFocus();
    QTest::keyClicks(edit, keys);
}

void Erase(QLineEdit* edit)
{
    edit->setFocus();
    edit->end(false);
    while (!edit->text().isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
}

} // namespace

// ---- Opening ---------------------------------------------------------------------

TEST_F(FontDialogTest, OpensWithItsTextsTheStoredFormatAndAnEmptyFaceList)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("设置字体"));
    for (const char* title : {"字体", "大小和颜色", "预览"})
        EXPECT_NE(GroupTitled(d, QString::fromUtf8(title)), nullptr) << title;
    EXPECT_NE(LabelWithText(d, QStringLiteral("大小")), nullptr);
    EXPECT_NE(LabelWithText(d, QStringLiteral("(有效范围8~120)")), nullptr);
    EXPECT_EQ(d.okButton()->text(), QStringLiteral("确定"));
    EXPECT_EQ(d.cancelButton()->text(), QStringLiteral("取消"));
    EXPECT_EQ(d.restoreButton()->text(), QStringLiteral("恢复默认值"));
    EXPECT_EQ(d.colorButton()->text(), QStringLiteral("文字颜色"));

    // The working copy is the stored format (its size field aside).
    const auto& bytes = d.charFormat().bytes();
    EXPECT_TRUE(std::equal(bytes.begin() + 4, bytes.end(), stored.bytes().begin() + 4));
    EXPECT_EQ(d.sizeEdit()->text(), QStringLiteral("16"));

    // No face chosen yet: the list's edit part is empty.
    EXPECT_TRUE(d.fontList()->isEditable());
    EXPECT_TRUE(d.fontList()->currentText().isEmpty());
    EXPECT_GT(d.fontList()->count(), 0);

    // The preview: its text, disabled, in the working format.
    EXPECT_EQ(d.preview()->text(),
              QStringLiteral("这是测试文字 0123456789\nABCDEFGHIJKLMNOPQRSTUVWXYZ\nabcdefghijklmnopqrstuvwxyz"));
    EXPECT_FALSE(d.preview()->isEnabled());
    EXPECT_EQ(d.preview()->font().family(), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(d.preview()->font().pointSizeF(), 256 / 20.0);
    // Disabled, yet in the chosen colour, not greyed.
    EXPECT_EQ(d.preview()->palette().color(QPalette::Disabled, QPalette::Text), QColor(0x56, 0x34, 0x12));

    EXPECT_EQ(d.focusWidget(), d.sizeEdit());
    EXPECT_TRUE(h.prompts.shown.empty());
}

TEST_F(FontDialogTest, SizeFieldShowsTheSquareRootOfTheHeightAndAppliesIt)
{
    struct Case {
        std::int32_t stored;
        const char* shown;
        std::int32_t height; // after opening
    };
    const Case cases[] = {
        {196, "14", 196},
        {200, "14", 196},    // not a square: the shown size is applied
        {14400, "120", 14400},
        {14640, "120", 14400},
        {63, "7", 63},       // 7 is out of range: the stored height stays
        {0, "0", 0},
        {-100, "0", -100},   // no square root: nothing applied
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        stored.setYHeight(c.stored);
        Harness h(stored);
        EXPECT_EQ(h.dialog.sizeEdit()->text(), QString::fromLatin1(c.shown));
        EXPECT_EQ(h.dialog.charFormat().yHeight(), c.height);
    }
}

// ---- The size rule ---------------------------------------------------------------

TEST_F(FontDialogTest, TypedSizeTakesEffectOnlyWithinEightToOneHundredTwenty)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    QLineEdit* size = d.sizeEdit();

    Erase(size); // empty: the last valid height stays
    EXPECT_EQ(d.charFormat().yHeight(), 256);
    Type(size, QStringLiteral("2"));
    EXPECT_EQ(d.charFormat().yHeight(), 256);
    Type(size, QStringLiteral("0"));
    EXPECT_EQ(d.charFormat().yHeight(), 400);
    EXPECT_DOUBLE_EQ(d.preview()->font().pointSizeF(), 20.0);
    Type(size, QStringLiteral("0")); // 200: ignored
    EXPECT_EQ(size->text(), QStringLiteral("200"));
    EXPECT_EQ(d.charFormat().yHeight(), 400);
    Type(size, QStringLiteral("a -+.")); // digits only
    EXPECT_EQ(size->text(), QStringLiteral("200"));
    Erase(size);
    EXPECT_EQ(d.charFormat().yHeight(), 400);

    d.okButton()->click();
    EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    EXPECT_EQ(d.charFormat().yHeight(), 400);
}

TEST_F(FontDialogTest, SizeBoundsAndTheReadingOfTheNumber)
{
    struct Case {
        const char* text;
        std::int32_t height; // starting from 256
    };
    const Case cases[] = {
        {"8", 64},           {"120", 14400},  {"7", 256},      {"121", 256},
        {"0", 256},          {"", 256},       {"008", 64},     {" 9", 81},
        {"+10", 100},        {"-10", 256},    {"12abc", 144},  {"1 2", 256},
        {"abc", 256},        {"99999999999999999999", 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Harness h(stored);
        // Program-side text bypasses the digits-only filter, as pasted text
        // might; the number at its start is what counts.
        h.dialog.sizeEdit()->setText(QString::fromLatin1(c.text));
        EXPECT_EQ(h.dialog.charFormat().yHeight(), c.height);
    }
}

// ---- Face, colour, defaults ------------------------------------------------------

TEST_F(FontDialogTest, ChoosingAFaceFromTheListSetsIt)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    QFontComboBox* list = d.fontList();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down); // from no choice to the first face
    ASSERT_EQ(list->currentIndex(), 0);
    const QString first = list->currentFont().family();
    EXPECT_EQ(d.charFormat().faceName(), first.left(31));
    EXPECT_EQ(d.preview()->font().family(), first.left(31));

    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(d.charFormat().faceName(), list->currentFont().family().left(31));
    EXPECT_NE(d.charFormat().faceName(), first);
}

TEST_F(FontDialogTest, TypingANameIntoTheFaceListChoosesNothing)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    // The exact name of an installed face other than the current one.
    QString typed = d.fontList()->itemText(0);
    if (typed == d.charFormat().faceName())
        typed = d.fontList()->itemText(1);
    ASSERT_FALSE(typed.isEmpty());
    QLineEdit* faceEdit = d.fontList()->lineEdit();
    ASSERT_NE(faceEdit, nullptr);
    faceEdit->setFocus();
    QTest::keyClicks(faceEdit, typed);
    EXPECT_EQ(d.charFormat().faceName(), QStringLiteral("DejaVu Serif"));

    // Enter hands the text in and commits the dialog: the face stays.
    QTest::keyClick(faceEdit, Qt::Key_Return);
    EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    EXPECT_EQ(d.charFormat().faceName(), QStringLiteral("DejaVu Serif"));
}

TEST_F(FontDialogTest, ColourChooserOpensOnBlackAndOnlyAConfirmedColourCounts)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    h.prompts.AnswerColor(std::nullopt);
    d.colorButton()->click();
    EXPECT_EQ(d.charFormat().crTextColor(), 0x00123456u);

    h.prompts.AnswerColor(QColor(0x11, 0x22, 0x33));
    d.colorButton()->click();
    EXPECT_EQ(d.charFormat().crTextColor(), 0x00332211u); // 0x00BBGGRR
    EXPECT_EQ(d.preview()->palette().color(QPalette::Disabled, QPalette::Text), QColor(0x11, 0x22, 0x33));

    ASSERT_EQ(h.prompts.initialColors.size(), 2u);
    for (const QColor& initial : h.prompts.initialColors)
        EXPECT_EQ(initial, QColor(Qt::black)); // not the current colour
    EXPECT_TRUE(d.isVisible());
}

TEST_F(FontDialogTest, RestoreDefaultsSetsFaceSizeAndColourOnly)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    d.fontList()->setFocus();
    QTest::keyClick(d.fontList(), Qt::Key_Down);
    const int chosen = d.fontList()->currentIndex();
    d.sizeEdit()->setText(QStringLiteral("30"));

    d.restoreButton()->click();
    EXPECT_EQ(d.charFormat().faceName(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(d.charFormat().yHeight(), 196);
    EXPECT_EQ(d.charFormat().crTextColor(), 0u);
    EXPECT_EQ(d.sizeEdit()->text(), QStringLiteral("14"));
    EXPECT_TRUE(d.fontList()->currentText().isEmpty()); // edit part emptied...
    EXPECT_EQ(d.fontList()->currentIndex(), chosen);     // ...the list left as it was
    EXPECT_EQ(d.charFormat().bCharSet(), 134);           // other fields untouched
    EXPECT_EQ(d.charFormat().dwMask(), stored.dwMask());

    d.okButton()->click();
    EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    EXPECT_EQ(d.charFormat().faceName(), QStringLiteral("微软雅黑"));
    EXPECT_EQ(d.charFormat().yHeight(), 196);
    EXPECT_EQ(d.charFormat().crTextColor(), 0u);
}

// ---- Closing ---------------------------------------------------------------------

TEST_F(FontDialogTest, OkGivesTheChosenFieldsAndKeepsTheBytesItDoesNotEdit)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    d.sizeEdit()->setText(QStringLiteral("20"));
    h.prompts.AnswerColor(QColor(Qt::red));
    d.colorButton()->click();
    d.okButton()->click();

    EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    const auto& chosen = d.charFormat().bytes();
    EXPECT_TRUE(std::equal(chosen.begin() + kCharFormatWSize, chosen.end(),
                           stored.bytes().begin() + kCharFormatWSize));
    EXPECT_EQ(d.charFormat().bCharSet(), 134);
    EXPECT_EQ(d.charFormat().yHeight(), 400);
    EXPECT_EQ(d.charFormat().crTextColor(), 0x000000FFu);
    EXPECT_EQ(d.charFormat().faceName(), QStringLiteral("DejaVu Serif"));
}

TEST_F(FontDialogTest, CancelEscapeAndTheCloseBoxChangeNothing)
{
    const auto cancelButton = [](FontDialog& d) { d.cancelButton()->click(); };
    const auto escape = [](FontDialog& d) { QTest::keyClick(d.sizeEdit(), Qt::Key_Escape); };
    const auto closeBox = [](FontDialog& d) { EXPECT_TRUE(d.close()); };
    const std::pair<const char*, std::function<void(FontDialog&)>> ways[] = {
        {"取消", cancelButton}, {"Escape", escape}, {"close box", closeBox}};
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        Harness h(stored);
        FontDialog& d = h.dialog;
        d.fontList()->setFocus();
        QTest::keyClick(d.fontList(), Qt::Key_Down);
        d.sizeEdit()->setText(QStringLiteral("40"));
        h.prompts.AnswerColor(QColor(Qt::green));
        d.colorButton()->click();
        ASSERT_NE(d.charFormat().yHeight(), stored.yHeight());

        close(d);
        EXPECT_TRUE(h.ClosedWithCancelCode());
    }
}

TEST_F(FontDialogTest, EnterCommitsExceptOnAButton)
{
    {
        SCOPED_TRACE("Enter in the size field");
        Harness h(stored);
        Erase(h.dialog.sizeEdit());
        Type(h.dialog.sizeEdit(), QStringLiteral("12"));
        QTest::keyClick(h.dialog.sizeEdit(), Qt::Key_Return);
        EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
        EXPECT_EQ(h.dialog.charFormat().yHeight(), 144);
    }
    {
        SCOPED_TRACE("keypad Enter on the dialog");
        Harness h(stored);
        QTest::keyClick(&h.dialog, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(h.ClosedWith(QDialog::Accepted));
    }
    {
        SCOPED_TRACE("Enter on 取消 presses 取消");
        Harness h(stored);
        h.dialog.sizeEdit()->setText(QStringLiteral("50"));
        h.dialog.cancelButton()->setFocus();
        QTest::keyClick(h.dialog.cancelButton(), Qt::Key_Return);
        EXPECT_TRUE(h.ClosedWithCancelCode());
    }
}

// ---- Look ------------------------------------------------------------------------

TEST_F(FontDialogTest, KeepsItsArrangementAtAFixedSizeWithNothingClipped)
{
    Harness h(stored);
    FontDialog& d = h.dialog;
    d.layout()->activate();
    const QSize size = d.size();
    EXPECT_EQ(d.minimumSize(), size);
    EXPECT_EQ(d.maximumSize(), size);

    // Face box and size box side by side on top, preview below, the three
    // buttons at the bottom: "恢复默认值", "确定", "取消" from left to right.
    QGroupBox* face = GroupTitled(d, QStringLiteral("字体"));
    QGroupBox* sizeBox = GroupTitled(d, QStringLiteral("大小和颜色"));
    QGroupBox* preview = GroupTitled(d, QStringLiteral("预览"));
    ASSERT_TRUE(face && sizeBox && preview);
    EXPECT_EQ(face->geometry().top(), sizeBox->geometry().top());
    EXPECT_LT(face->geometry().right(), sizeBox->geometry().left());
    EXPECT_GT(preview->geometry().top(), face->geometry().bottom());
    EXPECT_LE(preview->geometry().left(), face->geometry().left());
    EXPECT_GE(preview->geometry().right(), sizeBox->geometry().right());
    const QRect restore = d.restoreButton()->geometry();
    const QRect ok = d.okButton()->geometry();
    const QRect cancel = d.cancelButton()->geometry();
    EXPECT_GT(restore.top(), preview->geometry().bottom());
    EXPECT_EQ(restore.top(), ok.top());
    EXPECT_EQ(ok.top(), cancel.top());
    EXPECT_LT(restore.right(), ok.left());
    EXPECT_LT(ok.right(), cancel.left());
    EXPECT_TRUE(face->isAncestorOf(d.fontList()));
    EXPECT_TRUE(sizeBox->isAncestorOf(d.sizeEdit()));
    EXPECT_TRUE(sizeBox->isAncestorOf(d.colorButton()));
    EXPECT_TRUE(preview->isAncestorOf(d.preview()));

    // Every control inside the dialog, every text inside its control.
    for (QWidget* w : d.findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        SCOPED_TRACE(w->metaObject()->className());
        EXPECT_TRUE(d.rect().contains(QRect(w->mapTo(&d, QPoint()), w->size())));
    }
    for (QPushButton* b : d.findChildren<QPushButton*>())
        EXPECT_TRUE(b->size().expandedTo(b->sizeHint()) == b->size()) << b->text().toStdString();
    for (QLabel* l : d.findChildren<QLabel*>())
        EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text())) << l->text().toStdString();
    for (QGroupBox* g : {face, sizeBox, preview})
        EXPECT_LT(g->fontMetrics().horizontalAdvance(g->title()), g->width());
    EXPECT_GE(d.sizeEdit()->width(), d.sizeEdit()->fontMetrics().horizontalAdvance(QStringLiteral("120")));
}
