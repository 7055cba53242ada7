// Mivra's D-Bus interface on a private session bus: the object is served on a connection of its
// own, as in the application, and read and driven from other connections, as a client would.
#include "fakes/enginerig.h"
#include "ui/shell/busservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString kService = QString::fromUtf16(MivraBusNames::service);
const QString kPath = QString::fromUtf16(MivraBusNames::path);
const QString kIface = QString::fromUtf16(MivraBusNames::interface);
const QString kRefused = QString::fromUtf16(MivraBusNames::refused);

// Collects the PropertiesChanged signals a client sees.
class Recorder : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString& iface, const QVariantMap& props, const QStringList&) {
        if (iface == kIface) changes.append(props);
        emit seen();
    }
signals:
    void seen();
};

struct Interface : ::testing::Test {
    EngineRig rig;
    TimerModel* engine = nullptr;
    std::unique_ptr<MivraBus> bus;
    int quits = 0;
    int popovers = 0;
    Recorder recorder;

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus (run through dbus-run-session)";
        engine = &rig.start();
        engine->timer().stop(); // the tests tick by hand
        BusHooks hooks;
        hooks.statusTitle = [this]() -> QString { return u" "_s + engine->clockText(); };
        hooks.showPopover = [this](std::optional<QPoint>) { ++popovers; };
        hooks.quit = [this] { ++quits; };
        bus = std::make_unique<MivraBus>(*engine, hooks);
        QDBusConnection server = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"mivra"_s);
        ASSERT_TRUE(bus->attach(server));
        ASSERT_TRUE(server.registerService(kService));
        ASSERT_TRUE(client().connect(kService, kPath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s,
                                     &recorder, SLOT(changed(QString, QVariantMap, QStringList))));
        settle();
        recorder.changes.clear();
    }
    void TearDown() override {
        bus.reset();
        QDBusConnection server(u"mivra"_s);
        if (server.isConnected()) {
            server.unregisterService(kService);
            QDBusConnection::disconnectFromBus(u"mivra"_s);
        }
    }

    static QDBusConnection client() { return QDBusConnection::sessionBus(); }
    // Lets queued flushes run and their signals travel.
    static void settle() { QTest::qWait(50); }
    static QDBusMessage send(QDBusMessage m, QDBusConnection c = client()) {
        const QDBusMessage reply = c.call(m, QDBus::BlockWithGui);
        settle();
        return reply;
    }
    static QDBusMessage call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kIface, method);
        m.setArguments(args);
        return send(m);
    }
    static QDBusMessage properties(const QString& method, const QVariantList& args, QDBusConnection c = client()) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, u"org.freedesktop.DBus.Properties"_s, method);
        m.setArguments(QVariantList{kIface} + args);
        return send(m, c);
    }
    static QVariant get(const QString& name) {
        return properties(u"Get"_s, {name}).arguments().value(0).value<QDBusVariant>().variant();
    }
    void tick() {
        engine->tick();
        settle();
    }
};

QStringList keys(const QVariantMap& m) {
    QStringList k = m.keys();
    k.sort();
    return k;
}
} // namespace

TEST_F(Interface, ATakeStartedFromTheBusCountsDownOneAnnouncementPerSecond) {
    EXPECT_EQ(get(u"Phase"_s).toString(), u"standby"_s);
    const QDBusMessage reply = call(u"RollOrResume"_s);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(get(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_TRUE(get(u"Running"_s).toBool());
    EXPECT_EQ(get(u"Remaining"_s).toLongLong(), 1500);
    ASSERT_EQ(recorder.changes.size(), 1) << "one announcement for the whole start";
    EXPECT_EQ(recorder.changes[0].value(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_FALSE(recorder.changes[0].contains(u"TakesToday"_s)) << "only what changed is announced";

    recorder.changes.clear();
    for (int i = 0; i < 3; ++i) tick();
    ASSERT_EQ(recorder.changes.size(), 3);
    for (const QVariantMap& c : recorder.changes)
        EXPECT_EQ(keys(c), (QStringList{u"ClockText"_s, u"Remaining"_s, u"StatusTitle"_s}));
    EXPECT_EQ(recorder.changes.back().value(u"Remaining"_s).toLongLong(), 1497);
    EXPECT_EQ(get(u"ClockText"_s).toString(), u"24:57"_s);

    // A paused clock says nothing however often the engine ticks or the shell asks.
    call(u"Pause"_s);
    recorder.changes.clear();
    for (int i = 0; i < 3; ++i) tick();
    bus->refresh();
    bus->refresh();
    settle();
    EXPECT_TRUE(recorder.changes.isEmpty());
}

TEST_F(Interface, ManyEngineChangesInOneTurnGiveOneAnnouncement) {
    // A completed take changes the phase, the counters, the clock and the gate in one operation.
    engine->editSettings([](Settings& s) { s.focusMin = 0; });
    call(u"RollOrResume"_s);
    recorder.changes.clear();
    tick();
    EXPECT_EQ(get(u"Phase"_s).toString(), u"setup"_s);
    ASSERT_EQ(recorder.changes.size(), 1);
    EXPECT_EQ(recorder.changes[0].value(u"TakesToday"_s).toLongLong(), 1);
    EXPECT_TRUE(recorder.changes[0].contains(u"Phase"_s));
}

TEST_F(Interface, EveryCallTheGateOrThePopoverRefusesFails) {
    struct Case {
        const char* name;
        LockKind take; // a take is rolling with this lock; `standby` without one
        bool rolling;
        QString method;
        QVariantList args;
        QString error; // expected error name, or empty for a false reply
    };
    const QString invalid = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
    const QList<Case> cases = {
        {"cut under a timer lock", LockKind::timer, true, u"Cut"_s, {u"secret"_s}, {}},
        {"cut with a wrong password", LockKind::password, true, u"Cut"_s, {u"secret "_s}, {}},
        {"cut with no password", LockKind::password, true, u"Cut"_s, {QString()}, {}},
        {"quit under a timer lock", LockKind::timer, true, u"Quit"_s, {u"secret"_s}, {}},
        {"quit with a wrong password", LockKind::password, true, u"Quit"_s, {u"Secret"_s}, {}},
        {"cut in standby", LockKind::none, false, u"Cut"_s, {QString()}, kRefused},
        {"skip while rolling", LockKind::none, true, u"SkipBreak"_s, {}, kRefused},
        {"roll while rolling", LockKind::none, true, u"RollOrResume"_s, {}, kRefused},
        {"pause while idle", LockKind::none, false, u"Pause"_s, {}, kRefused},
        {"gate chosen mid-take", LockKind::none, true, u"SetPendingLock"_s, {u"timer"_s}, kRefused},
        {"unknown gate lock", LockKind::none, false, u"SetPendingLock"_s, {u"forever"_s}, invalid},
        {"open set without allowance mode", LockKind::none, false, u"OpenSet"_s, {}, kRefused},
        {"close a closed set", LockKind::none, false, u"CloseSet"_s, {}, kRefused},
        {"unknown lockup", LockKind::none, false, u"SelectLockup"_s, {u"0-0"_s}, invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bus.reset();
        engine = &rig.start();
        engine->timer().stop();
        engine->setPassword(u"secret"_s);
        bus = std::make_unique<MivraBus>(*engine, BusHooks{{}, {}, [this] { ++quits; }});
        ASSERT_TRUE(bus->attach(QDBusConnection(u"mivra"_s)));
        engine->setPendingLock(c.take);
        if (c.rolling) engine->rollOrResume();
        const QDBusMessage reply = call(c.method, c.args);
        if (c.error.isEmpty()) {
            ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
            EXPECT_FALSE(reply.arguments().value(0).toBool());
        } else {
            EXPECT_EQ(reply.errorName(), c.error);
            EXPECT_FALSE(reply.errorMessage().isEmpty());
        }
        EXPECT_EQ(engine->phase(), c.rolling ? Phase::rolling : Phase::standby);
        EXPECT_EQ(engine->lockKind(), c.rolling ? c.take : LockKind::none);
        EXPECT_EQ(quits, 0);
    }
}

TEST_F(Interface, GrantedCallsReachTheEngineAndTheShell) {
    engine->setPassword(u"secret"_s);
    EXPECT_EQ(call(u"SetPendingLock"_s, {u"password"_s}).type(), QDBusMessage::ReplyMessage);
    call(u"RollOrResume"_s);
    EXPECT_EQ(get(u"LockKind"_s).toString(), u"password"_s);
    EXPECT_TRUE(call(u"Cut"_s, {u"secret"_s}).arguments().value(0).toBool());
    EXPECT_EQ(engine->phase(), Phase::standby);

    const Lockup second = engine->lockups().value(1);
    EXPECT_EQ(call(u"SelectLockup"_s, {uuidText(second.id).toLower()}).type(), QDBusMessage::ReplyMessage);
    BusLockup active;
    get(u"ActiveLockup"_s).value<QDBusArgument>() >> active;
    EXPECT_EQ(active.name, second.name);

    engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    EXPECT_EQ(call(u"OpenSet"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(get(u"OpenSetActive"_s).toBool());
    EXPECT_EQ(call(u"OpenSet"_s).errorName(), kRefused);

    call(u"ShowPopover"_s);
    EXPECT_EQ(popovers, 1);
    engine->rollOrResume();
    const QDBusMessage reply = call(u"Quit"_s, {u"secret"_s});
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    EXPECT_EQ(quits, 1) << "the shell leaves once the reply is out";
}

TEST_F(Interface, ASecondConnectionSeesTheSameState) {
    call(u"RollOrResume"_s);
    tick();
    auto all = [](QDBusConnection c) { return qdbus_cast<QVariantMap>(properties(u"GetAll"_s, {}, c).arguments().value(0)); };
    const QVariantMap theirs = all(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"other"_s));
    const QVariantMap mine = all(client());
    EXPECT_EQ(keys(theirs), keys(bus->snapshot()));
    EXPECT_EQ(theirs.value(u"Remaining"_s).toLongLong(), 1499);
    EXPECT_EQ(theirs.value(u"StatusTitle"_s).toString(), u" 24:59"_s);
    for (const char16_t* k : {u"Phase", u"Remaining", u"ClockText", u"Running"})
        EXPECT_EQ(mine.value(QString::fromUtf16(k)), theirs.value(QString::fromUtf16(k)));
    QDBusConnection::disconnectFromBus(u"other"_s);
}

// The installed description and the live object must not drift apart.
TEST_F(Interface, TheInstalledDescriptionMatchesTheLiveObject) {
    auto members = [](const QString& xml) {
        QStringList out;
        QXmlStreamReader r(xml);
        QString interface, method;
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement) continue;
            auto a = [&r](const char* key) { return r.attributes().value(QLatin1StringView(key)).toString(); };
            if (r.name() == u"interface") interface = a("name");
            if (interface != kIface || r.name() == u"annotation" || r.name() == u"interface") continue;
            if (r.name() != u"arg") method = r.name() == u"method" ? a("name") : QString();
            // Qt leaves the reply's argument unnamed: arguments compare by type and direction.
            const QString name = r.name() == u"arg" ? QString() : a("name");
            out << method + u' ' + r.name() + u' ' + name + u' ' + a("type") + a("direction") + a("access");
        }
        out.sort();
        return out;
    };
    QFile file(QStringLiteral(MIVRA_INTERFACE_XML));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QDBusMessage live = send(QDBusMessage::createMethodCall(kService, kPath, u"org.freedesktop.DBus.Introspectable"_s,
                                                                  u"Introspect"_s));
    const QStringList installed = members(QString::fromUtf8(file.readAll()));
    EXPECT_EQ(installed.size(), 19 + 10 + 6) << "every property, method and argument";
    const QStringList served = members(live.arguments().value(0).toString());
    for (const QString& m : served) EXPECT_TRUE(installed.contains(m)) << "not installed: " << m.toStdString();
    for (const QString& m : installed) EXPECT_TRUE(served.contains(m)) << "not served: " << m.toStdString();
}

#include "test_interface.moc"
