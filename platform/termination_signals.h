// SIGTERM, SIGHUP and SIGINT turned into a Qt signal: the handlers only
// write the signal's number to a pipe, whose reading end wakes the event
// loop. The first such signal asks the program to end (it stores what it
// can first); a second one, while that is under way or the event loop is
// blocked, ends the process at once as the signal's default would.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace tavro {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one object per process.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override; // puts the default handlers back

signals:
    void terminationRequested(int signal);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tavro
