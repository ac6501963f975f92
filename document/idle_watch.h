// How long the user has left the program alone: no key pressed, no mouse
// moved, clicked or wheeled in any of its windows. After a set time without
// any such input it says so once (idle()), and again only after new input
// and another such time. Only input from the window system counts, not
// events the program sends itself. The clock can be replaced, so tests move
// time by hand.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tavro {

class IdleWatch : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Watches the input of the whole application; no timeout yet.
    explicit IdleWatch(QObject* parent = nullptr);

    // How long without input is idle; zero: never. Counts from now.
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const { return m_timeout; }
    // The time source (the steady clock by default); counts from its now.
    void setClock(Clock clock);

    // What the timer does when it fires: emits idle() when the timeout has
    // passed since the last input (once per such stretch), else waits on.
    void Check();

signals:
    void idle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The timer to the moment the timeout passes.
    void Arm();

    Clock m_clock;
    std::chrono::milliseconds m_timeout{0};
    std::chrono::steady_clock::time_point m_lastInput;
    bool m_told = false; // idle() given for the present stretch
    QTimer m_timer;
};

} // namespace tavro
