#include "session_watch.h"

namespace tavro {
namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");

} // namespace

SessionWatch::SessionWatch(QObject* parent)
    : SessionWatch(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), parent)
{
}

SessionWatch::SessionWatch(QDBusConnection system, QDBusConnection session, QObject* parent) : QObject(parent)
{
    // A session's Lock comes on its own object path; any session of the
    // seat that locks is taken as ours (the others are not on screen).
    system.connect(kLogin, QString(), QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock"),
                   this, SLOT(OnSessionLock()));
    system.connect(kLogin, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                   QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)));
    // Screen savers announce themselves on more than one path.
    for (const QString& service : {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver")})
        session.connect(service, QString(), service, QStringLiteral("ActiveChanged"), this,
                        SLOT(OnScreenSaverActive(bool)));
}

void SessionWatch::OnSessionLock()
{
    emit locking();
}

void SessionWatch::OnPrepareForSleep(bool start)
{
    if (start)
        emit locking();
}

void SessionWatch::OnScreenSaverActive(bool active)
{
    if (active)
        emit locking();
}

} // namespace tavro
