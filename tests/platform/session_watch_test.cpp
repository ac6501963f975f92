// SessionWatch on a bus of the test's own (a dbus-daemon started for it),
// where the test owns the names logind and the screen savers use: the
// signals that mean the session is locking or the machine is going to
// sleep tell so; their opposites, and the same signals from a sender that
// owns no such name, do not.
#include "session_watch.h"

#include "support/qt_application.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace tavro::test {
namespace {

class SessionWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "needs dbus-daemon (scripts/deps.sh installs it)";
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        ASSERT_TRUE(m_daemon.waitForReadyRead(10000)) << "dbus-daemon did not start";
        const QString address = QString::fromUtf8(m_daemon.readLine().trimmed());
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("watch")));
        services = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("services")));
        stranger = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("stranger")));
        ASSERT_TRUE(bus->isConnected() && services->isConnected() && stranger->isConnected());
        for (const char* name : {"org.freedesktop.login1", "org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"})
            ASSERT_TRUE(services->registerService(QString::fromLatin1(name))) << name;
    }

    void TearDown() override
    {
        for (const char* name : {"watch", "services", "stranger"})
            QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<QDBusConnection> services;
    std::unique_ptr<QDBusConnection> stranger;

private:
    QProcess m_daemon;
};

TEST_F(SessionWatchTest, TellsOfLockAndSleepFromTheServicesOnly)
{
    SessionWatch watch(*bus, *bus); // the one bus as the system's and the session's
    QSignalSpy locking(&watch, &SessionWatch::locking);
    struct Case {
        const char* what;
        QDBusConnection* sender;
        const char* path;
        const char* interface;
        const char* member;
        QVariantList arguments;
        bool locks;
    };
    const Case cases[] = {
        {"session locked", services.get(), "/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session",
         "Lock", {}, true},
        {"going to sleep", services.get(), "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
         "PrepareForSleep", {true}, true},
        {"woken up", services.get(), "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
         {false}, false},
        {"screen saver on", services.get(), "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
         "ActiveChanged", {true}, true},
        {"screen saver on, short path", services.get(), "/ScreenSaver", "org.freedesktop.ScreenSaver",
         "ActiveChanged", {true}, true},
        {"screen saver off", services.get(), "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged",
         {false}, false},
        {"GNOME's screen saver on", services.get(), "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver",
         "ActiveChanged", {true}, true},
        {"a stranger's Lock", stranger.get(), "/org/freedesktop/login1/session/_32",
         "org.freedesktop.login1.Session", "Lock", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        locking.clear();
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(c.path), QString::fromLatin1(c.interface),
                                                         QString::fromLatin1(c.member));
        signal.setArguments(c.arguments);
        ASSERT_TRUE(c.sender->send(signal));
        if (c.locks)
            EXPECT_TRUE(locking.wait(10000));
        else
            QTest::qWait(200);
        EXPECT_EQ(locking.size(), c.locks ? 1 : 0);
    }
}

} // namespace
} // namespace tavro::test
