#include "document_search.h"
#include "find_replace_dialog.h"
#include "long_work.h"
#include "sliced_replace_all.h"
#include "stepped_search.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

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

// A Replace All that takes many turns: 取消 in its progress dialog takes
// back what was replaced, and nothing is said; run to its end, it is one
// undo step. Every turn is a step long and the dialog comes at once.
TEST_F(FindReplace, ReplaceAllInTurnsIsOneUndoStepAndCancelTakesItBack)
{
    SetLongWorkPace({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    QString text;
    for (int line = 0; line < 1000; ++line)
        text += QStringLiteral("old 行 old\n");
    TypeText(text);
    const bool modified = window->isModified();
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "to its end");
        // Esc in the progress dialog once the first edits are made.
        QMetaObject::Connection canceller;
        if (cancel)
            canceller = QObject::connect(window->editor()->document(), &QTextDocument::contentsChanged, [] {
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (auto* progress = qobject_cast<QProgressDialog*>(widget); progress && progress->isVisible())
                        QTimer::singleShot(0, progress, [progress] { QTest::keyClick(progress, Qt::Key_Escape); });
            });
        FindReplaceDialog* dialog = OpenReplace(QStringLiteral("old"), QStringLiteral("new"));
        if (!cancel)
            prompts.AnswerMessage(MessageAnswer::Ok);
        dialog->RequestReplaceAll();
        QObject::disconnect(canceller);
        if (cancel) {
            EXPECT_EQ(EditorText(), text);
            EXPECT_EQ(window->isModified(), modified);
            EXPECT_TRUE(prompts.shown.empty());
        } else {
            EXPECT_EQ(EditorText(), QString(text).replace(QStringLiteral("old"), QStringLiteral("new")));
            EXPECT_EQ(prompts.shown.back().text, QStringLiteral("已经完成所有替换,共替换2000处."));
            window->OnEditUndo();
            EXPECT_EQ(EditorText(), text);
        }
        dialog->reject();
    }
    SetLongWorkPace(DefaultLongWorkPace());
}

// In slices of a step each, the text one whole-text replacement gives, a
// match across the edge of a searched slice included; Revert halfway
// leaves the text and its undo history as they were.
TEST(SlicedReplaceAllTest, SlicesGiveOneWholeReplacementAndRevertTakesItBack)
{
    QString text;
    while (text.size() < 300 * 1024)
        text += QString(190, QLatin1Char('.')) + QStringLiteral("密码本\n");
    text.replace(256 * 1024 - 2, 3, QStringLiteral("密码本")); // the first slice searched ends inside it
    const QString expected = QString(text).replace(QStringLiteral("密码本"), QStringLiteral("key"));
    for (const bool revert : {false, true}) {
        QTextDocument document;
        document.setPlainText(text);
        SlicedReplaceAll replace(document, QStringLiteral("密码本"), QStringLiteral("key"));
        int turns = 0;
        while (!replace.RunFor(std::chrono::nanoseconds(0)) && !(revert && replace.permille() > 500))
            ++turns;
        if (revert) {
            replace.Revert();
            EXPECT_EQ(document.toPlainText(), text);
            EXPECT_EQ(document.availableUndoSteps(), 0);
            continue;
        }
        EXPECT_GT(turns, 10);
        EXPECT_EQ(replace.count(), static_cast<std::size_t>(text.count(QStringLiteral("密码本"))));
        EXPECT_EQ(document.toPlainText(), expected);
        document.undo(); // one step back to the text before
        EXPECT_EQ(document.toPlainText(), text);
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


// Searches read 256 characters at a time, a slice a leg before the request
// returns and one a turn of the event loop after it: a search of a few
// thousand characters goes on well after the request.
class SteppedFindReplace : public FindReplace {
protected:
    void SetUp() override
    {
        SteppedSearch::SetPace({std::chrono::milliseconds(0), std::chrono::milliseconds(0), 256});
        FindReplace::SetUp();
    }
    void TearDown() override
    {
        FindReplace::TearDown();
        SteppedSearch::SetPace(SteppedSearch::DefaultPace());
    }

    bool Searching() const
    {
        for (const SteppedSearch* search : window->findChildren<SteppedSearch*>()) {
            if (search->isSearching())
                return true;
        }
        return false;
    }

    // Turns the event loop until no search is under way.
    void FinishSearch() { ASSERT_TRUE(QTest::qWaitFor([&] { return !Searching(); })); }
};

// Matches before and after the caret, across line breaks, up and down: the
// window selects what one search over the whole text (the search it made
// before reading in slices) finds, wrapping as it did.
TEST_F(SteppedFindReplace, FindsWhatOneSearchOfTheWholeTextFinds)
{
    QString text(3000, QLatin1Char('.'));
    for (const qsizetype at : {qsizetype{10}, qsizetype{255}, qsizetype{511}, qsizetype{767}, qsizetype{1024},
                               qsizetype{1790}, qsizetype{2047}, qsizetype{2997}})
        text.replace(at, 2, QStringLiteral("ab"));
    text.replace(1300, 1, QStringLiteral("\n"));
    text.replace(1299, 1, QStringLiteral("a"));
    text.replace(1301, 1, QStringLiteral("b"));
    TypeText(text);
    const QTextDocument& document = *window->editor()->document();
    const qsizetype length = window->editor()->textLength();
    ASSERT_EQ(length, 3000);
    for (const QString& find : {QStringLiteral("ab"), QStringLiteral("a\nb"), QStringLiteral(".ab.")}) {
        for (const bool down : {true, false}) {
            for (const qsizetype caret : {qsizetype{0}, qsizetype{11}, qsizetype{1300}, qsizetype{2999}, length}) {
                SCOPED_TRACE(find.toStdString() + (down ? " down from " : " up from ") + std::to_string(caret));
                qsizetype expected = -1;
                if (down) {
                    expected = FindForward(document, find, caret, kNoLimit, Qt::CaseSensitive);
                    if (expected < 0)
                        expected = FindForward(document, find, 0, caret - 1, Qt::CaseSensitive);
                } else {
                    expected = FindBackward(document, find, caret, 0, Qt::CaseSensitive);
                    if (expected < 0)
                        expected = FindBackward(document, find, length, caret - find.size() + 1, Qt::CaseSensitive);
                }
                ASSERT_GE(expected, 0);
                Caret(caret);
                FindReplaceDialog* dialog = OpenFind(find, down);
                dialog->RequestFindNext();
                FinishSearch();
                EXPECT_EQ(Selection(), Range(expected, expected + find.size()));
                dialog->reject();
            }
        }
    }
    EXPECT_TRUE(prompts.shown.empty());
}

// Read in slices of 256 characters (all at once here), a leg finds what one
// call over it finds, from every place: matches fall on every side of every
// slice edge somewhere.
TEST(SteppedSearchTest, EachLegFindsWhatOneCallFinds)
{
    SteppedSearch::SetPace({std::chrono::hours(1), std::chrono::hours(1), 256});
    QString text(1400, QLatin1Char('.'));
    text.replace(300, 3, QStringLiteral("a\nb"));
    text.replace(700, 2, QStringLiteral("ab"));
    text.replace(1000, 3, QStringLiteral("a\nb"));
    QTextDocument document;
    document.setPlainText(text);
    auto run = [&](const QString& find, SteppedSearch::Leg leg) {
        qsizetype found = -2;
        SteppedSearch search(document, find, {leg});
        search.Start([&](qsizetype pos) { found = pos; });
        return found;
    };
    for (const QString& find : {QStringLiteral("ab"), QStringLiteral("a\nb")}) {
        for (qsizetype at = 0; at <= text.size(); ++at) {
            SCOPED_TRACE(find.toStdString() + " at " + std::to_string(at));
            ASSERT_EQ(run(find, SteppedSearch::Forward(at, kNoLimit)),
                      FindForward(document, find, at, kNoLimit, Qt::CaseSensitive));
            ASSERT_EQ(run(find, SteppedSearch::Forward(0, at)), FindForward(document, find, 0, at, Qt::CaseSensitive));
            ASSERT_EQ(run(find, SteppedSearch::Backward(at, 0)), FindBackward(document, find, at, 0, Qt::CaseSensitive));
            ASSERT_EQ(run(find, SteppedSearch::Backward(text.size(), at)),
                      FindBackward(document, find, text.size(), at, Qt::CaseSensitive));
        }
    }
    SteppedSearch::SetPace(SteppedSearch::DefaultPace());
}

// A search that reads far ends without a result when the dialog closes, when
// another request comes and when the text changes: nothing is selected and
// nothing is said after it.
TEST_F(SteppedFindReplace, ALongSearchStopsOnCloseNewRequestOrEdit)
{
    const QString text = QString(4000, QLatin1Char('x')) + QStringLiteral("needle");
    const Range needle(4000, 4006);
    struct Case {
        const char* name;
        std::function<void(FindReplaceDialog*)> meanwhile;
        Range selection; // once every search has ended
    };
    const Case cases[] = {
        {"left alone", [](FindReplaceDialog*) {}, needle},
        {"dialog closed", [](FindReplaceDialog* dialog) { dialog->reject(); }, Range(0, 0)},
        {"another search", [](FindReplaceDialog* dialog) {
             dialog->findEdit()->setText(QStringLiteral("xx"));
             dialog->RequestFindNext(); // found at once, in the first slice
         }, Range(0, 2)},
        {"text typed", [this](FindReplaceDialog*) {
             QTextCursor end(window->editor()->document());
             end.movePosition(QTextCursor::End);
             end.insertText(QStringLiteral("y"));
         }, Range(0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypeText(text);
        Caret(0);
        FindReplaceDialog* dialog = OpenFind(QStringLiteral("needle"));
        dialog->RequestFindNext();
        ASSERT_TRUE(Searching());
        EXPECT_EQ(Selection(), Range(0, 0)); // the window goes on meanwhile
        c.meanwhile(dialog);
        FinishSearch();
        // As many turns again as the search needed: a search not stopped would have ended by now.
        for (int turn = 0; turn < 40; ++turn)
            QCoreApplication::processEvents();
        EXPECT_EQ(Selection(), c.selection);
        if (window->findDialog())
            window->findDialog()->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(prompts.shown.empty());
}

// Find Next and Replace that find nothing say so once the whole text is read.
TEST_F(SteppedFindReplace, AMissIsReportedWhenTheWholeTextIsRead)
{
    TypeText(QString(3000, QLatin1Char('x')));
    window->editor()->select(1500, 1502);
    FindReplaceDialog* dialog = OpenReplace(QStringLiteral("zz"), QStringLiteral("y"));
    for (const bool replace : {false, true}) {
        prompts.AnswerMessage(MessageAnswer::Ok);
        replace ? dialog->RequestReplace() : dialog->RequestFindNext();
        EXPECT_TRUE(prompts.shown.empty());
        FinishSearch();
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text, QStringLiteral("找不到 zz"));
        prompts.shown.clear();
        window->editor()->select(1500, 1502);
    }
    EXPECT_EQ(EditorText(), QString(3000, QLatin1Char('x')));
}

} // namespace
} // namespace tavro::test
