#include "idle_watch.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace tavro {
namespace {

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
        return true;
    default:
        return false;
    }
}

} // namespace

IdleWatch::IdleWatch(QObject* parent)
    : QObject(parent), m_clock([] { return std::chrono::steady_clock::now(); }), m_lastInput(m_clock())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &IdleWatch::Check);
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

void IdleWatch::setTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
    m_lastInput = m_clock();
    m_told = false;
    Arm();
}

void IdleWatch::setClock(Clock clock)
{
    m_clock = std::move(clock);
    m_lastInput = m_clock();
    m_told = false;
    Arm();
}

void IdleWatch::Arm()
{
    if (m_timeout.count() <= 0) {
        m_timer.stop();
        return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_lastInput + m_timeout - m_clock());
    m_timer.start(std::max(left, std::chrono::milliseconds(0)));
}

void IdleWatch::Check()
{
    if (m_timeout.count() <= 0 || m_told)
        return;
    if (m_clock() - m_lastInput < m_timeout) {
        Arm(); // input came meanwhile: wait for the rest
        return;
    }
    m_told = true;
    emit idle();
}

bool IdleWatch::eventFilter(QObject* watched, QEvent* event)
{
    // Only the time is noted: input comes by the hundred while the mouse
    // moves. The timer, when it fires, works out the rest.
    if (event->spontaneous() && IsInput(event->type())) {
        m_lastInput = m_clock();
        if (m_told) {
            m_told = false;
            Arm();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tavro
