#include "about_dialog.h"
#include "usage_notes_dialog.h"
#include "statement_dialog.h"

#include "support/qt_application.h"

#include "support/dialog_harness.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <functional>
#include <utility>

using tavro::AboutDialog;
using tavro::UsageNotesDialog;
using tavro::StatementDialog;

namespace {

using tavro::test::kNoResult;

// Shows dialog as a modal run would, then closes it one way.
template <class Dialog>
bool ClosesBy(const std::function<void(Dialog&)>& close)
{
    Dialog dialog;
    dialog.show();
    dialog.setResult(kNoResult);
    close(dialog);
    return !dialog.isVisible() && dialog.result() != kNoResult;
}

template <class Dialog>
void ExpectClosesByEnterEscapeAndCloseBox()
{
    EXPECT_TRUE(ClosesBy<Dialog>([](Dialog& d) { QTest::keyClick(&d, Qt::Key_Return); })) << "Enter";
    EXPECT_TRUE(ClosesBy<Dialog>([](Dialog& d) { QTest::keyClick(&d, Qt::Key_Enter, Qt::KeypadModifier); }))
        << "keypad Enter";
    EXPECT_TRUE(ClosesBy<Dialog>([](Dialog& d) { QTest::keyClick(&d, Qt::Key_Escape); })) << "Escape";
    EXPECT_TRUE(ClosesBy<Dialog>([](Dialog& d) { d.close(); })) << "close box";
}

// The format the statement shows for the character at pos. A line feed is
// the end of its block; its format is the one the next block starts with.
QTextCharFormat FormatAt(const QTextDocument* document, int pos)
{
    const QTextBlock block = document->findBlock(pos);
    if (pos == block.position() + block.length() - 1)
        return block.next().charFormat();
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        if (it.fragment().contains(pos))
            return it.fragment().charFormat();
    }
    ADD_FAILURE() << "no character at " << pos;
    return {};
}

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);
const QColor kOrange(255, 174, 0);

} // namespace

// ---- Usage notes -----------------------------------------------------------------

TEST(UsageNotesDialogTest, ShowsTheParagraphsWholeAndInOrder)
{
    const QString expected[] = {
        QStringLiteral("        在打开文件时,如果打开的文件显示乱码或者部分乱码.请勿轻易解锁和保存.乱码部分再次保存可能会造成新文本丢失."),
        QStringLiteral("        锁定文本时会触发保存一次.在锁定状态下自动保存是无效的."),
        QStringLiteral("        注意防范侧信道攻击.就是在电脑已经中毒的情况下,病毒木马会直接读取程序内容,而绕过加密保护.本软件不附带侧信道攻击防御功能,请用户自己注意."),
        QStringLiteral("        因效率问题,越多的字符导致文件越大,导致运行速度下降.虽然没有规定上限,但请控制字符数量.(建议1MB以内大约50万中文字符)"),
        QStringLiteral("        每次保存,锁定,自动保存或修改密码替换文档之前,被替换的文件都原样(仍是加密的)保存为历史版本,存放在个人目录下的 ~/.local/share/tavro/versions 中.在\"文件\"菜单的\"历史版本\"里可以预览和恢复它们."),
        QStringLiteral("        隐藏文本(Alt + Y)后窗口不再显示任何文本,须输入该文档的密码或选择其密码文件才能重新显示.空闲一段时间(默认10分钟)、锁屏或休眠时会自动隐藏,可在\"设置-隐私保护\"中调整.从文档复制的文本会标记为机密,剪贴板管理器不会记录它,并在隐藏文本、关闭文档、退出程序或60秒后从剪贴板清除."),
        QStringLiteral("        程序被结束(关机,注销,关闭启动它的终端)时,未保存的修改会像自动保存那样写入文档;不能写入的(文本已锁定,自动保存已关闭,有无法保存的字符)会加密保存为恢复副本,下次打开该文档时可以恢复."),
    };
    const int count = static_cast<int>(std::size(expected));
    UsageNotesDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("使用注意"));
    const QList<QLabel*>& labels = dialog.paragraphLabels();
    ASSERT_EQ(labels.size(), count);
    EXPECT_EQ(dialog.findChildren<QLabel*>().size(), count); // nothing else to read
    int bottom = -1;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        QLabel* label = labels[i];
        EXPECT_EQ(label->text(), expected[i]);
        EXPECT_TRUE(label->text().startsWith(QString(8, QLatin1Char(' '))));
        EXPECT_NE(label->text().at(8), QLatin1Char(' '));
        EXPECT_EQ(label->textFormat(), Qt::PlainText); // the indent is not collapsed
        EXPECT_TRUE(label->wordWrap());
        // Tall enough for all its wrapped lines, inside the dialog, below the one before.
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_TRUE(dialog.rect().contains(label->geometry()));
        EXPECT_GT(label->geometry().top(), bottom);
        bottom = label->geometry().bottom();
    }
}

TEST(UsageNotesDialogTest, ClosesWithEnterEscapeAndTheCloseBox)
{
    ExpectClosesByEnterEscapeAndCloseBox<UsageNotesDialog>();
}

// ---- Security statement ----------------------------------------------------------

TEST(StatementDialogTest, HoldsTheThirteenLinesExactlyThenTheStrongFormat)
{
    const char16_t* const lines[] = {
        u"注意:",
        u"   1.本软件只具备基础磁盘读写功能,理论上可通过任何杀毒软件.也可跟踪软件行为,让您放心使用.",
        u"   2.解密无法校验密码是否正确,极大增加文本安全性,它的安全性很高.",
        u"   3.如果您忘记密码,但记得住其中大量明文.你可通过以下原理自己破解.(作者不参与帮助)",
        u"",
        u"tvro文件类型编码格式(按顺序):",
        u"unsigned char //加密时如果文本长度不对称将随机填充内容,该标记为随机填充的字节数.",
        u"unsigned int //对密文区域的CRC32哈希值.仅用于验证文本完整性,不能防止人为篡改.",
        u"void* //ASE256加密的密文.",
        u"",
        u"关于密钥生成:",
        u"无论选择哪种加密,最后都将获得其结果的MD5作为ASE256的密钥.",
        u"新建时如果取消密码,密钥将全部清零,但还是会加密.打开时也可选择取消.",
    };
    QString expected;
    for (const char16_t* line : lines)
        expected += QString::fromUtf16(line) + QLatin1Char('\n');

    StatementDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("安全申明及原理"));
    const QTextDocument* document = dialog.statementEdit()->document();
    EXPECT_EQ(document->toPlainText().left(360), expected);
    EXPECT_EQ(expected.size(), 360);
    // Then, after an empty line, the strong format.
    EXPECT_TRUE(document->toPlainText().mid(360).startsWith(QStringLiteral("\n关于强加密格式(.tvrs):\n")));
    // The parts begin where the file-format lines and the key lines begin.
    EXPECT_EQ(expected.indexOf(QStringLiteral("tvro文件")), 139);
    EXPECT_EQ(expected.indexOf(QStringLiteral("关于密钥")), 281);
}

TEST(StatementDialogTest, NotesRedFormatBlackKeyOrangeInOneFaceAndSize)
{
    StatementDialog dialog;
    const QTextDocument* document = dialog.statementEdit()->document();
    const struct {
        int pos;
        QColor color;
    } boundaries[] = {{0, kRed},     {138, kRed},     {139, kBlack},
                      {280, kBlack}, {281, kOrange},  {359, kOrange}, {360, QColor(0, 0x80, 0)}};
    for (const auto& b : boundaries)
        EXPECT_EQ(FormatAt(document, b.pos).foreground().color(), b.color) << "at " << b.pos;

    for (int pos = 0; pos < 360; ++pos) {
        SCOPED_TRACE(pos);
        const QTextCharFormat format = FormatAt(document, pos);
        const QColor expected = pos < 139 ? kRed : pos < 281 ? kBlack : kOrange;
        ASSERT_EQ(format.foreground().color(), expected);
        ASSERT_EQ(format.fontFamilies().toStringList(), QStringList{QStringLiteral("微软雅黑")});
        ASSERT_DOUBLE_EQ(format.fontPointSize(), 11.25); // 225 twips
    }
}

TEST(StatementDialogTest, TextCanBeReadWholeButNotSelectedOrChanged)
{
    StatementDialog dialog;
    dialog.show();
    QTextEdit* edit = dialog.statementEdit();
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(edit->textInteractionFlags(), Qt::NoTextInteraction);

    // A double click on a word and a drag across lines select nothing.
    QTest::mouseDClick(edit->viewport(), Qt::LeftButton, {}, QPoint(40, 10));
    EXPECT_FALSE(edit->textCursor().hasSelection());
    QTest::mousePress(edit->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(edit->viewport(), QPoint(200, 80));
    QTest::mouseRelease(edit->viewport(), Qt::LeftButton, {}, QPoint(200, 80));
    EXPECT_FALSE(edit->textCursor().hasSelection());
    const int length = edit->document()->characterCount();
    QTest::keyClicks(edit, QStringLiteral("x"));
    EXPECT_EQ(edit->document()->characterCount(), length);

    // Every line shows whole: nothing to scroll.
    EXPECT_EQ(edit->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(edit->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(dialog.rect().contains(edit->geometry()));
}

TEST(StatementDialogTest, ClosesWithEnterEscapeAndTheCloseBox)
{
    ExpectClosesByEnterEscapeAndCloseBox<StatementDialog>();
}

// ---- About box -------------------------------------------------------------------

TEST(AboutDialogTest, IsThePictureAloneWithoutATitleBar)
{
    AboutDialog dialog;
    dialog.show();
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(dialog.size(), QSize(300, 220));
    QLabel* picture = dialog.picture();
    EXPECT_EQ(picture->geometry(), dialog.rect());

    // The picture is drawn, not left blank: the background is dark, the name light.
    const QImage image = picture->pixmap().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(300, 220));
    const QColor corner = image.pixelColor(2, 2);
    EXPECT_LT(corner.lightness(), 160);
    int light = 0;
    for (int x = 0; x < image.width(); ++x)
        light += image.pixelColor(x, static_cast<int>(image.height() * 0.6)).lightness() > 200;
    EXPECT_GT(light, 5); // a row through the product name crosses white strokes
}

TEST(AboutDialogTest, ClosesOnALeftOrRightPressAnywhereAndOnEnterOrEscape)
{
    EXPECT_TRUE(ClosesBy<AboutDialog>([](AboutDialog& d) { QTest::mouseClick(d.picture(), Qt::RightButton); }))
        << "right click on the picture";
    EXPECT_TRUE(ClosesBy<AboutDialog>([](AboutDialog& d) {
        QTest::mouseClick(d.picture(), Qt::LeftButton, {}, QPoint(299, 219));
    })) << "left click on the picture's corner";
    EXPECT_TRUE(ClosesBy<AboutDialog>([](AboutDialog& d) { QTest::mouseClick(&d, Qt::RightButton); }))
        << "right click on the box";
    EXPECT_TRUE(ClosesBy<AboutDialog>([](AboutDialog& d) { QTest::keyClick(&d, Qt::Key_Return); })) << "Enter";
    EXPECT_TRUE(ClosesBy<AboutDialog>([](AboutDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); })) << "Escape";
    EXPECT_FALSE(ClosesBy<AboutDialog>([](AboutDialog& d) { QTest::mouseClick(d.picture(), Qt::MiddleButton); }))
        << "middle click";
}
