#include "long_work.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

namespace tavro {

namespace {

LongWorkPace g_pace = DefaultLongWorkPace();

} // namespace

LongWorkPace DefaultLongWorkPace()
{
    // A turn short enough for the window to paint smoothly between turns.
    return {std::chrono::milliseconds(300), std::chrono::milliseconds(50)};
}

void SetLongWorkPace(LongWorkPace pace)
{
    g_pace = pace;
}

bool RunLongWork(QWidget* owner, const LongWork& work)
{
    const LongWorkPace pace = g_pace;
    if (work.turn(pace.turn))
        return true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    bool done = false;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        if (!done && work.turn(pace.turn)) {
            done = true;
            turns.stop();
        }
    });
    turns.start(work.interval);
    // The first moments with no input taken, then the dialog.
    // Events are processed until the work, the time or the user ends a
    // phase: a program told to quit (whose event loops then end at once)
    // still finishes or cancels the work first.
    if (pace.quiet.count() > 0) {
        bool quietOver = false;
        QTimer quiet;
        quiet.setSingleShot(true);
        QObject::connect(&quiet, &QTimer::timeout, [&] { quietOver = true; });
        quiet.start(pace.quiet);
        while (!done && !quietOver)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
    bool cancelled = false;
    if (!done) {
        // Owned here; gone with its owner, should that go first.
        QPointer<QProgressDialog> progress =
            new QProgressDialog(work.label, QStringLiteral("取消"), 0, 1000, owner);
        progress->setWindowTitle(work.title);
        progress->setWindowModality(Qt::ApplicationModal);
        progress->setMinimumDuration(0);
        progress->setAutoReset(false);
        progress->setAutoClose(false);
        const auto stop = [&] {
            cancelled = !done;
            turns.stop();
        };
        // 取消, Esc, or the dialog closed or gone in any other way.
        QObject::connect(progress, &QProgressDialog::canceled, stop);
        QObject::connect(progress, &QDialog::finished, stop);
        QObject::connect(progress, &QObject::destroyed, stop);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (progress)
                progress->setValue(work.progress());
        });
        tick.start(50);
        progress->show();
        while (!done && !cancelled)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
        delete progress.data();
    }
    turns.stop();
    QApplication::restoreOverrideCursor();
    return done && !cancelled;
}

} // namespace tavro
