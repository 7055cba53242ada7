// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications over a private session bus, received by a stand-in notification server;
// and the login manager's wake signal, sent there as it is sent on the system bus.
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "fakes/enginerig.h"
#include "platform/linux/dbusnotifier.h"
#include "platform/linux/logindsleepwatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int timeout;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout) {
        calls.append({app, icon, summary, body, actions, hints, timeout});
        emit received();
        return uint(calls.size());
    }

signals:
    void received();
};

struct Notifications : ::testing::Test {
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run through dbus-run-session)";
    }
    // The server lives on a connection of its own, as a real one would.
    QDBusConnection serve(FakeNotificationServer& server) {
        QDBusConnection c = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"server"_s);
        EXPECT_TRUE(c.registerService(u"org.freedesktop.Notifications"_s));
        EXPECT_TRUE(
            c.registerObject(u"/org/freedesktop/Notifications"_s, &server, QDBusConnection::ExportAllSlots));
        return c;
    }
    void TearDown() override {
        QDBusConnection c(u"server"_s);
        if (c.isConnected()) {
            c.unregisterService(u"org.freedesktop.Notifications"_s);
            QDBusConnection::disconnectFromBus(u"server"_s);
        }
    }
};
} // namespace

TEST_F(Notifications, TitleAndBodyArriveUnderTheApplicationName) {
    FakeNotificationServer server;
    serve(server);
    DBusNotifier notifier;
    notifier.post(u"Cut! Take 1 printed."_s, u"Nice take. Reset for the next."_s);
    QSignalSpy spy(&server, &FakeNotificationServer::received);
    ASSERT_TRUE(spy.wait(5000));
    ASSERT_EQ(server.calls.size(), 1);
    const auto& c = server.calls[0];
    EXPECT_EQ(c.app, u"Mivra"_s);
    EXPECT_EQ(c.summary, u"Cut! Take 1 printed."_s);
    EXPECT_EQ(c.body, u"Nice take. Reset for the next."_s);
    EXPECT_TRUE(c.actions.isEmpty());
    // The engine plays its own sound; the notification must not bring another.
    EXPECT_FALSE(c.hints.contains(u"sound-name"_s));
    EXPECT_FALSE(c.hints.contains(u"sound-file"_s));
}

TEST_F(Notifications, TheEnginePostsInTheCurrentLanguage) {
    FakeNotificationServer server;
    serve(server);
    EngineRig rig;
    DBusNotifier notifier;
    Platform p{rig.clock,  rig.defaults,      notifier,   rig.sound,    rig.workspace,
               rig.runner, rig.calendarStore, rig.root(), rig.dataDir()};
    Loc loc(rig.defaults, {u"fr-CA"_s});
    TimerModel engine(p);
    engine.editSettings([](Settings& s) { s.focusMin = 0; });
    engine.rollOrResume();
    engine.tick();
    QSignalSpy spy(&server, &FakeNotificationServer::received);
    ASSERT_TRUE(spy.wait(5000));
    ASSERT_EQ(server.calls.size(), 1);
    EXPECT_EQ(server.calls[0].summary, u"Coupez ! Mivra 1 imprimée."_s);
    EXPECT_EQ(server.calls[0].body, u"Belle mivra. On replace pour la suivante."_s);
}

TEST_F(Notifications, WithoutAServerPostingIsSilentAndDoesNotWait) {
    DBusNotifier notifier;
    notifier.post(u"Back to one."_s, u"Standby — roll when you're ready."_s);
    QTest::qWait(50);
    SUCCEED();
}

// Only the wake is reported, not the going to sleep; with no bus at all nothing is watched and
// nothing fails.
TEST(LoginManager, AWakeIsReportedAtOnceAndGoingToSleepIsNot) {
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus (run through dbus-run-session)";
    QDBusConnection manager = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"login1"_s);
    ASSERT_TRUE(manager.registerService(u"org.freedesktop.login1"_s));
    LogindSleepWatch watch(QDBusConnection::sessionBus());
    EXPECT_TRUE(watch.watching());
    QSignalSpy woke(&watch, &SleepWatch::resumed);
    for (bool goingToSleep : {true, false}) {
        QDBusMessage m = QDBusMessage::createSignal(
            u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s);
        m << goingToSleep;
        ASSERT_TRUE(manager.send(m));
    }
    ASSERT_TRUE(woke.wait(5000));
    EXPECT_EQ(woke.count(), 1); // the two arrive in order: the first one was not reported

    const LogindSleepWatch nowhere(QDBusConnection(u"no such bus"_s));
    EXPECT_FALSE(nowhere.watching());
    manager.unregisterService(u"org.freedesktop.login1"_s);
    QDBusConnection::disconnectFromBus(u"login1"_s);
}

#include "test_notifier.moc"
