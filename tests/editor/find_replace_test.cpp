#include "document_search.h"
#include "find_replace_dialog.h"
#include "window_fixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextDocument>

namespace tavro::test {
namespace {

using Range = std::pair<qsizetype, qsizetype>;

class FindReplace : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ShowActive();
        NewDocument(QStringLiteral("a.tvro"), nullptr);
        prompts.shown.clear();
    }

    FindReplaceDialog* OpenFind(const QString& find, bool down = true)
    {
        window->OnEditFind();
        FindReplaceDialog* dialog = window->findDialog();
        dialog->findEdit()->setText(find);
        (down ? dialog->downButton() : dialog->upButton())->setChecked(true);
        return dialog;
    }

    FindReplaceDialog* OpenReplace(const QString& find, const QString& with)
    {
        window->OnEditReplace();
        FindReplaceDialog* dialog = window->findDialog();
        dialog->findEdit()->setText(find);
        dialog->replaceEdit()->setText(with);
        return dialog;
    }

    Range Selection() const { return window->editor()->selection(); }

    void Caret(qsizetype position) { window->editor()->select(position, position); }
};

TEST_F(FindReplace, DownwardSearchSkipsTheSelectedMatchAndWrapsSilently)
{
    TypeText(QStringLiteral("ab ab"));
    Caret(0);
    FindReplaceDialog* dialog = OpenFind(QStringLiteral("ab"));
    dialog->findNextButton()->click();
    EXPECT_EQ(Selection(), Range(0, 2));
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(3, 5));
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(0, 2));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(window->editor()->hasFocus());
}

TEST_F(FindReplace, UpwardSearchFindsTheLastMatchBeforeTheSelection)
{
    TypeText(QStringLiteral("ab ab"));
    Caret(5);
    FindReplaceDialog* dialog = OpenFind(QStringLiteral("ab"), false);
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(3, 5));
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(0, 2));
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(3, 5));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(FindReplace, UpwardSearchFindsAMatchEndingAtTheSelectionStart)
{
    TypeText(QStringLiteral("abab"));
    window->editor()->select(2, 4);
    OpenFind(QStringLiteral("ab"), false)->RequestFindNext();
    EXPECT_EQ(Selection(), Range(0, 2));
}

// Many short blocks, some empty, with U+00A0, a line separator inside a
// block and mixed case, several search windows long; the oracle is QString's
// own search of the text with every break as '\n'.
TEST(DocumentSearch, MatchesQStringSearchAcrossManyBlocks)
{
    QString text;
    for (int line = 0; line < 4000; ++line) {
        text += QStringLiteral("第%1行 Tail\u00a0end").arg(line);
        text += line % 7 == 0 ? QStringLiteral("\n\n") : QStringLiteral("\n");
        if (line % 500 == 3)
            text += QStringLiteral("tail\u2028末");
    }
    QTextDocument document;
    document.setPlainText(text);
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    ASSERT_EQ(document.characterCount() - 1, text.size());

    const QString finds[] = {QStringLiteral("tail"), QStringLiteral("end\n\n第"),
                             QStringLiteral("\u00a0end\n第3999"), QStringLiteral("末"),
                             QStringLiteral("第0行"), QStringLiteral("absent"),
                             QStringLiteral("end\u2029第")}; // never: no separator of the document's own
    const qsizetype froms[] = {0, 1, 16383, 16385, 40000, text.size() - 3, text.size()};
    for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (const QString& find : finds) {
            for (const qsizetype from : froms) {
                SCOPED_TRACE(find.toStdString() + " from " + std::to_string(from) +
                             (cs == Qt::CaseSensitive ? " match case" : " any case"));
                EXPECT_EQ(FindForward(document, find, from, kNoLimit, cs), text.indexOf(find, from, cs));
                const qsizetype lastStart = from - find.size();
                EXPECT_EQ(FindBackward(document, find, from, 0, cs),
                          lastStart >= 0 ? text.lastIndexOf(find, lastStart, cs) : -1);
            }
            std::vector<qsizetype> expected, found;
            for (qsizetype pos = text.indexOf(find, 0, cs); pos >= 0;
                 pos = text.indexOf(find, pos + find.size(), cs))
                expected.push_back(pos);
            ForwardSearch search(document, find, 0, cs);
            for (qsizetype pos = search.Next(); pos >= 0; pos = search.Next())
                found.push_back(pos);
            EXPECT_EQ(found, expected) << find.toStdString();
            EXPECT_EQ(FindAll(document, find, cs), expected) << find.toStdString();
        }
    }
    EXPECT_EQ(TextRange(document, 8, 18), text.mid(8, 10));

    // A match across the edge of a piece read backward, wherever that edge falls.
    QString plain(40000, QLatin1Char('x'));
    QTextDocument flat;
    for (const qsizetype from : {qsizetype{20000}, qsizetype{40000}}) {
        for (qsizetype at = from - 16400; at + 3 <= from; ++at) {
            if ((from - at) % 4096 > 2 && (from - at) % 4096 < 4094)
                continue; // only the places next to a power-of-two edge
            QString straddled = plain;
            straddled.replace(at, 3, QStringLiteral("abc"));
            flat.setPlainText(straddled);
            ASSERT_EQ(FindBackward(flat, QStringLiteral("abc"), from, 0, Qt::CaseSensitive), at) << from << " " << at;
        }
    }
}

TEST_F(FindReplace, TheOnlyMatchAroundTheCaretIsFoundEitherWay)
{
    TypeText(QStringLiteral("xx abc yy"));
    for (const bool down : {true, false}) {
        SCOPED_TRACE(down ? "down" : "up");
        Caret(5); // inside "abc"
        FindReplaceDialog* dialog = OpenFind(QStringLiteral("abc"), down);
        dialog->RequestFindNext();
        EXPECT_EQ(Selection(), Range(3, 6));
        dialog->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(FindReplace, SearchIsCaseSensitiveAndReportsMisses)
{
    TypeText(QStringLiteral("ab"));
    Caret(1);
    FindReplaceDialog* dialog = OpenFind(QStringLiteral("AB"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    dialog->RequestFindNext();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("找不到 AB"));
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("结果"));
    EXPECT_EQ(prompts.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(Selection(), Range(1, 1)); // unchanged
}

TEST_F(FindReplace, LineBreaksCountAsOneCharacter)
{
    TypeText(QStringLiteral("first\nsecond\nthe target line"));
    Caret(0);
    OpenFind(QStringLiteral("target"))->RequestFindNext();
    EXPECT_EQ(Selection(), Range(17, 23));
    EXPECT_EQ(window->editor()->textCursor().selectedText(), QStringLiteral("target"));
}

TEST_F(FindReplace, OneDialogAtATimeOpeningEmptyAndDown)
{
    FindReplaceDialog* dialog = OpenFind(QStringLiteral("x"), false);
    window->OnEditFind();
    window->OnEditReplace();
    EXPECT_EQ(window->findDialog(), dialog);
    EXPECT_EQ(dialog->findEdit()->text(), QStringLiteral("x"));
    dialog->cancelButton()->click();
    EXPECT_FALSE(window->isFindDialogOpen());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    window->OnEditReplace();
    ASSERT_TRUE(window->findDialog());
    EXPECT_FALSE(window->findDialog()->IsFindOnly());
    EXPECT_EQ(window->findDialog()->windowTitle(), QStringLiteral("替换"));
    window->findDialog()->reject();
    window->OnEditFind();
    dialog = window->findDialog();
    EXPECT_TRUE(dialog->IsFindOnly());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("查找"));
    EXPECT_EQ(dialog->findEdit()->text(), QString());
    EXPECT_TRUE(dialog->downButton()->isChecked());
    EXPECT_EQ(dialog->findEdit()->maxLength(), 127);
}

TEST_F(FindReplace, ReplaceNeedsTheMatchSelectedFirst)
{
    TypeText(QStringLiteral("one two one"));
    Caret(0);
    FindReplaceDialog* dialog = OpenReplace(QStringLiteral("one"), QStringLiteral("1"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    dialog->replaceButton()->click();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("请继续搜索后进行替换."));
    EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("提示"));
    EXPECT_EQ(prompts.shown.back().icon, MessageIcon::None);
    EXPECT_EQ(EditorText(), QStringLiteral("one two one"));

    // A selection as long as the string but another text is not replaced.
    window->editor()->select(4, 7);
    prompts.AnswerMessage(MessageAnswer::Ok);
    dialog->RequestReplace();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("请继续搜索后进行替换."));
    EXPECT_EQ(EditorText(), QStringLiteral("one two one"));

    Caret(0);
    dialog->RequestFindNext();
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(8, 11));
    dialog->RequestReplace();
    EXPECT_EQ(EditorText(), QStringLiteral("one two 1"));
    EXPECT_EQ(Selection(), Range(9, 9)); // the caret after the replacement, nothing selected
    window->OnEditUndo(); // and the edit is undoable
    EXPECT_EQ(EditorText(), QStringLiteral("one two one"));
}

TEST_F(FindReplace, ReplaceOfAMissingStringReportsIt)
{
    TypeText(QStringLiteral("abc"));
    FindReplaceDialog* dialog = OpenReplace(QStringLiteral("zz"), QStringLiteral("y"));
    prompts.AnswerMessage(MessageAnswer::Ok);
    dialog->RequestReplace();
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("找不到 zz"));
    // Find Next that finds nothing leaves no selection and the focus in the editor.
    window->editor()->select(1, 2);
    prompts.AnswerMessage(MessageAnswer::Ok);
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(2, 2));
    EXPECT_TRUE(window->editor()->hasFocus());
}

TEST_F(FindReplace, ReplaceAllIsLeftToRightAndNonOverlapping)
{
    struct Case { const char16_t* text; const char16_t* find; const char16_t* with; const char16_t* result; int count; };
    const Case cases[] = {
        {u"aaaa", u"aa", u"b", u"bb", 2},
        {u"aaa", u"aa", u"b", u"ba", 1},
        {u"aa", u"a", u"aa", u"aaaa", 2},
        {u"abc", u"x", u"y", u"abc", 0},
        {u"行一\n行二", u"行", u"line", u"line一\nline二", 2},
        {u"x\ny\nx\ny\nx", u"y\nx", u"-", u"x\n-\n-", 2},
    };
    for (const Case& c : cases) {
        TypeText(QString::fromUtf16(c.text));
        FindReplaceDialog* dialog = OpenReplace(QString::fromUtf16(c.find), QString::fromUtf16(c.with));
        prompts.AnswerMessage(MessageAnswer::Ok);
        dialog->replaceAllButton()->click();
        EXPECT_EQ(EditorText(), QString::fromUtf16(c.result));
        EXPECT_FALSE(window->editor()->textCursor().hasSelection());
        EXPECT_EQ(prompts.shown.back().text, QStringLiteral("已经完成所有替换,共替换%1处.").arg(c.count));
        EXPECT_EQ(prompts.shown.back().caption, QStringLiteral("完成"));
        dialog->reject();
    }
}

TEST_F(FindReplace, LockedTextIsNeverReplacedButCanBeSearched)
{
    TypeText(QStringLiteral("keep keep"));
    FindReplaceDialog* dialog = OpenReplace(QStringLiteral("keep"), QStringLiteral("lose"));
    window->OnLock(); // the dialog was open before the lock
    Caret(0);
    dialog->RequestFindNext();
    EXPECT_EQ(Selection(), Range(0, 4));
    dialog->RequestReplace();
    dialog->RequestReplaceAll();
    EXPECT_EQ(EditorText(), QStringLiteral("keep keep"));
    EXPECT_TRUE(prompts.AllAnswered());
}

} // namespace
} // namespace tavro::test
