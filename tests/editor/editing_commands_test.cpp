#include "resource_ids.h"
#include "window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>

namespace tavro::test {
namespace {

class Editing : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ShowActive();
        NewDocument(QStringLiteral("a.tvro"), nullptr);
        editor()->setFocus();
    }

    TextEditor* editor() const { return window->editor(); }

    void Select(qsizetype start, qsizetype end) { editor()->select(start, end); }

    std::pair<qsizetype, qsizetype> Selection() const { return editor()->selection(); }
};

TEST_F(Editing, TabInsertsAtTheCaretAndKeepsTheFocus)
{
    TypeText(QStringLiteral("abcdefghij"));
    Select(2, 2);
    QTest::keyClick(editor(), Qt::Key_Tab);
    EXPECT_EQ(EditorText(), QStringLiteral("ab\tcdefghij"));
    EXPECT_EQ(Selection(), std::make_pair(qsizetype{3}, qsizetype{3}));
    EXPECT_TRUE(editor()->hasFocus());

    // Shift and Ctrl are not looked at.
    QTest::keyClick(editor(), Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(editor(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), QStringLiteral("ab\t\t\tcdefghij"));
    EXPECT_TRUE(editor()->hasFocus());
}

TEST_F(Editing, TabGoesInFrontOfTheSelectionWhichMovesOn)
{
    TypeText(QStringLiteral("0123456789"));
    Select(3, 7);
    QTest::keyClick(editor(), Qt::Key_Tab);
    EXPECT_EQ(EditorText(), QStringLiteral("012\t3456789"));
    EXPECT_EQ(Selection(), std::make_pair(qsizetype{4}, qsizetype{8}));
    // The edit is in the undo history.
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QStringLiteral("0123456789"));
}

TEST_F(Editing, LockedTextRefusesEveryEditButCopiesAndSelects)
{
    TypeText(QStringLiteral("locked text"));
    window->OnLock();
    Select(0, 6);
    QTest::keyClick(editor(), Qt::Key_Tab);
    QTest::keyClicks(editor(), QStringLiteral("xyz"));
    window->OnEditCut();
    Select(0, 6);
    window->OnEditDelete();
    QTest::keyClick(editor(), Qt::Key_Backspace);
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClick(editor(), Qt::Key_V, Qt::ControlModifier);
    window->OnEditPaste();
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QStringLiteral("locked text"));

    Select(0, 6);
    window->OnEditCopy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("locked"));
    window->OnEditSelectAll();
    EXPECT_EQ(Selection(), std::make_pair(qsizetype{0}, qsizetype{11}));
    QTest::keyClick(editor(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("locked text"));
}

TEST_F(Editing, WithoutDocumentTabAndPasteChangeNothing)
{
    prompts.AnswerMessage(MessageAnswer::Yes);
    window->OnFileCloseDoc();
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClick(window.get(), Qt::Key_Tab);
    QTest::keyClick(window.get(), Qt::Key_V, Qt::ControlModifier);
    window->OnEditPaste();
    EXPECT_EQ(EditorText(), QString());
}

TEST_F(Editing, PasteTakesPlainTextOnly)
{
    auto* data = new QMimeData;
    data->setHtml(QStringLiteral("<b>粗体</b> <i>text</i>"));
    data->setText(QStringLiteral("粗体 text"));
    QApplication::clipboard()->setMimeData(data);
    QTest::keyClick(editor(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), QStringLiteral("粗体 text"));
    window->OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(EditorText(), QStringLiteral("粗体 text粗体 text"));
    // One format for everything: nothing of the HTML arrives.
    for (QTextBlock block = editor()->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_FALSE(it.fragment().charFormat().hasProperty(QTextFormat::FontWeight));
}

TEST_F(Editing, DropsArePlainTextAndRefusedWhileLocked)
{
    auto drop = [this] {
        QMimeData data;
        data.setHtml(QStringLiteral("<b>拖</b>"));
        data.setText(QStringLiteral("拖"));
        QWidget* target = editor()->viewport();
        const QPointF at(5, 5);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
    };
    window->OnLock();
    drop();
    EXPECT_EQ(EditorText(), QString());
    window->OnUnlock();
    drop();
    EXPECT_EQ(EditorText(), QStringLiteral("拖"));
}

TEST_F(Editing, CutCopyDeleteAndUndoActOnTheEditor)
{
    TypeText(QStringLiteral("hello world"));
    Select(0, 6);
    window->OnEditCut();
    EXPECT_EQ(EditorText(), QStringLiteral("world"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello "));
    Select(0, 1);
    window->OnEditDelete();
    EXPECT_EQ(EditorText(), QStringLiteral("orld"));
    window->OnEditUndo();
    EXPECT_EQ(EditorText(), QStringLiteral("world"));
    // Ctrl+T is a label only: it cuts nothing.
    Select(0, 5);
    QTest::keyClick(editor(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), QStringLiteral("world"));
}

TEST_F(Editing, EscapeAndEnterNeverCloseTheWindow)
{
    QTest::keyClick(editor(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(editor(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(EditorText(), QStringLiteral("\n"));
}

} // namespace
} // namespace tavro::test
