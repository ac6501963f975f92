#include "text_state.h"

#include "support/qt_application.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <map>
#include <string>
#include <vector>

namespace tavro::test {
namespace {

// One step of a user's or the program's work on the text, and the states
// captured so far expected current after it.
struct Step {
    std::string action; // "type X", "backspace", "undo", "redo", "capture NAME",
                        // "select all and delete", "set X", "block X" (the program's edit block)
    std::string current; // names of the captured states current afterwards, in capture order
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

const Case kCases[] = {
    {"undo and redo move between captured states",
     {{"set hello world", ""}, {"capture A", "A"}, {"backspace", ""}, {"capture B", "B"},
      {"undo", "A"}, {"redo", "B"}, {"undo", "A"}}},
    // Typed characters merge into one command; a capture must not let the
    // next ones merge into the command that led to it.
    {"typing after a capture stays undoable back to it",
     {{"type ab", ""}, {"capture A", "A"}, {"type cd", ""}, {"undo", "A"}, {"redo", ""}}},
    // An edit after undo replaces the states ahead, with or without a
    // merge into the command before.
    {"an edit after undo drops the states ahead",
     {{"type a", ""}, {"capture A", "A"}, {"type b", ""}, {"capture B", "B"}, {"undo", "A"},
      {"type c", ""}, {"undo", "A"}, {"redo", ""}}},
    {"undoing one of two then typing",
     {{"capture E", "E"}, {"type p", ""}, {"capture P", "P"}, {"type q", ""}, {"undo", "P"},
      {"type r", ""}, {"undo", "P"}, {"undo", "E"}}},
    {"select all and delete, undone",
     {{"set text", ""}, {"capture A", "A"}, {"select all and delete", ""}, {"undo", "A"}}},
    {"the program's edit block is one step",
     {{"type x", ""}, {"capture A", "A"}, {"block yz", ""}, {"undo", "A"}}},
    // Text set afresh clears the history: the state it had at that index
    // before is not this one.
    {"text set afresh is a new state",
     {{"capture E", "E"}, {"set new", ""}, {"capture N", "N"}, {"set other", ""}}},
};

class TextStates : public ::testing::TestWithParam<Case> {};

TEST_P(TextStates, AreCurrentExactlyWhenTheTextIsBackInThem)
{
    QPlainTextEdit edit; // typing merges as the user's does
    QTextDocument* document = edit.document();
    TextStateTracker tracker(document);
    std::vector<std::pair<std::string, TextState>> captured;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(step.action);
        const auto space = step.action.find(' ');
        const std::string verb = step.action.substr(0, space);
        const QString argument = QString::fromStdString(space == std::string::npos ? "" : step.action.substr(space + 1));
        if (verb == "type") {
            edit.moveCursor(QTextCursor::End);
            QTest::keyClicks(&edit, argument);
        } else if (verb == "backspace") {
            edit.moveCursor(QTextCursor::End);
            QTest::keyClick(&edit, Qt::Key_Backspace);
        } else if (verb == "undo") {
            document->undo();
        } else if (verb == "redo") {
            document->redo();
        } else if (verb == "capture") {
            captured.emplace_back(argument.toStdString(), tracker.Capture());
        } else if (verb == "select") {
            edit.selectAll();
            QTest::keyClick(&edit, Qt::Key_Delete);
        } else if (verb == "set") {
            edit.setPlainText(argument);
        } else if (verb == "block") {
            QTextCursor cursor(document);
            cursor.beginEditBlock();
            cursor.insertText(argument.left(1));
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(argument.mid(1));
            cursor.endEditBlock();
        }
        std::string current;
        for (const auto& [name, state] : captured)
            if (tracker.IsCurrent(state))
                current += name;
        EXPECT_EQ(current, step.current);
    }
    EXPECT_FALSE(tracker.IsCurrent(TextState{})); // a state never captured
}

INSTANTIATE_TEST_SUITE_P(Edits, TextStates, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

} // namespace
} // namespace tavro::test
