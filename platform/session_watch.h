// When the desktop session locks or the machine is about to sleep, told by
// whichever of these the system offers: logind's Lock of a session and its
// PrepareForSleep(true) on the system bus; the screen saver's
// ActiveChanged(true) on the session bus (freedesktop's and GNOME's).
// Without a bus, or without the service on it, nothing comes and nothing
// breaks.
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace tavro {

class SessionWatch : public QObject {
    Q_OBJECT
public:
    // Listens on the system and the session bus of the user.
    explicit SessionWatch(QObject* parent = nullptr);
    // Listens on the given buses (tests pass a bus of their own for both).
    SessionWatch(QDBusConnection system, QDBusConnection session, QObject* parent = nullptr);

signals:
    // The session is locking, or the machine is about to sleep.
    void locking();

private slots:
    void OnSessionLock();
    void OnPrepareForSleep(bool start);
    void OnScreenSaverActive(bool active);
};

} // namespace tavro
