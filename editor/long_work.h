// Work too long for one turn of the UI thread's event loop, done in turns
// while the window keeps painting: a busy cursor at once, no input taken
// for the first moments (work that ends within them shows nothing more),
// then a progress dialog, modal to the whole program so no command starts
// meanwhile, whose 取消 is the only way in.
#pragma once

#include <QString>

#include <chrono>
#include <functional>

class QWidget;

namespace tavro {

struct LongWork {
    QString title;                      // of the progress dialog
    QString label;                      // its text
    std::chrono::milliseconds interval; // between turns
    // One turn of the work, for about budget; true once it is all done.
    std::function<bool(std::chrono::milliseconds budget)> turn;
    std::function<int()> progress;      // how far it is, in thousandths
};

// Runs work's turns until it is done (true) or 取消 is pressed (false: no
// turn runs after that). The first turn runs at once.
bool RunLongWork(QWidget* owner, const LongWork& work);

struct LongWorkPace {
    std::chrono::milliseconds quiet; // before the progress dialog appears
    std::chrono::milliseconds turn;  // the budget of a turn
};
LongWorkPace DefaultLongWorkPace();
// The pace of work started from now on (tests quicken it).
void SetLongWorkPace(LongWorkPace pace);

} // namespace tavro
