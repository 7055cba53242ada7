// Mivra's D-Bus interface on a private session bus: the object is served on a connection of its
// own, as in the application, and read and driven from other connections, as a client would.
#include "fakes/enginerig.h"
#include "ui/shell/busservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
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
    static void settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            QTest::qWait(10);
        }
    }
    QDBusMessage call(const QString& method, const QVariantList& args = {}, QDBusConnection c = client()) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kIface, method);
        m.setArguments(args);
        const QDBusMessage reply = c.call(m, QDBus::BlockWithGui);
        settle();
        return reply;
    }
    static QVariant get(const QString& name, QDBusConnection c = client()) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        m << kIface << name;
        const QDBusReply<QDBusVariant> reply = c.call(m, QDBus::BlockWithGui);
        return reply.value().variant();
    }
    static QVariantMap getAll(QDBusConnection c) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(kService, kPath, u"org.freedesktop.DBus.Properties"_s, u"GetAll"_s);
        m << kIface;
        const QDBusReply<QVariantMap> reply = c.call(m, QDBus::BlockWithGui);
        return reply.value();
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

TEST_F(Interface, ATakeStartedFromTheBusShowsInItsProperties) {
    EXPECT_EQ(get(u"Phase"_s).toString(), u"standby"_s);
    const QDBusMessage reply = call(u"RollOrResume"_s);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(get(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_TRUE(get(u"Running"_s).toBool());
    EXPECT_EQ(get(u"Remaining"_s).toLongLong(), 1500);
    EXPECT_EQ(get(u"ClockText"_s).toString(), u"25:00"_s);
    EXPECT_EQ(get(u"PhaseTitle"_s).toString(), u"ROLLING"_s);
    ASSERT_EQ(recorder.changes.size(), 1) << "one announcement for the whole start";
    EXPECT_EQ(recorder.changes[0].value(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_FALSE(recorder.changes[0].contains(u"TakesToday"_s)) << "only what changed is announced";
}

TEST_F(Interface, TheClockIsAnnouncedOncePerSecondAndNothingElseWithIt) {
    call(u"RollOrResume"_s);
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
    EXPECT_EQ(get(u"TakesToday"_s).toLongLong(), 1);
    ASSERT_EQ(recorder.changes.size(), 1);
    EXPECT_TRUE(recorder.changes[0].contains(u"Phase"_s));
    EXPECT_TRUE(recorder.changes[0].contains(u"TakesToday"_s));
}

TEST_F(Interface, EveryCallTheGateOrThePopoverRefusesFails) {
    engine->setPassword(u"secret"_s);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        QString method;
        QVariantList args;
        QString error;          // expected error name, or empty for a false reply
        QString phaseAfter;
    };
    auto lockedTake = [this](LockKind k) {
        return [this, k] {
            engine->setPendingLock(k);
            engine->rollOrResume();
        };
    };
    const QList<Case> cases = {
        {"cut under a timer lock", lockedTake(LockKind::timer), u"Cut"_s, {u"secret"_s}, {}, u"rolling"_s},
        {"cut with a wrong password", lockedTake(LockKind::password), u"Cut"_s, {u"secret "_s}, {}, u"rolling"_s},
        {"cut with no password", lockedTake(LockKind::password), u"Cut"_s, {QString()}, {}, u"rolling"_s},
        {"quit under a timer lock", lockedTake(LockKind::timer), u"Quit"_s, {u"secret"_s}, {}, u"rolling"_s},
        {"quit with a wrong password", lockedTake(LockKind::password), u"Quit"_s, {u"Secret"_s}, {}, u"rolling"_s},
        {"cut in standby", [] {}, u"Cut"_s, {QString()}, kRefused, u"standby"_s},
        {"skip while rolling", lockedTake(LockKind::none), u"SkipBreak"_s, {}, kRefused, u"rolling"_s},
        {"roll while rolling", lockedTake(LockKind::none), u"RollOrResume"_s, {}, kRefused, u"rolling"_s},
        {"pause while idle", [] {}, u"Pause"_s, {}, kRefused, u"standby"_s},
        {"gate chosen mid-take", lockedTake(LockKind::none), u"SetPendingLock"_s, {u"timer"_s}, kRefused,
         u"rolling"_s},
        {"unknown gate lock", [] {}, u"SetPendingLock"_s, {u"forever"_s}, u"org.freedesktop.DBus.Error.InvalidArgs"_s,
         u"standby"_s},
        {"open set without allowance mode", [] {}, u"OpenSet"_s, {}, kRefused, u"standby"_s},
        {"close a closed set", [] {}, u"CloseSet"_s, {}, kRefused, u"standby"_s},
        {"unknown lockup", [] {}, u"SelectLockup"_s, {u"00000000-0000-0000-0000-000000000000"_s},
         u"org.freedesktop.DBus.Error.InvalidArgs"_s, u"standby"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bus.reset();
        engine = &rig.start();
        engine->timer().stop();
        engine->setPassword(u"secret"_s);
        bus = std::make_unique<MivraBus>(*engine, BusHooks{{}, {}, [this] { ++quits; }});
        ASSERT_TRUE(bus->attach(QDBusConnection(u"mivra"_s)));
        c.arrange();
        const LockKind lockBefore = engine->lockKind();
        const QDBusMessage reply = call(c.method, c.args);
        if (c.error.isEmpty()) {
            ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
            EXPECT_FALSE(reply.arguments().value(0).toBool());
        } else {
            ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
            EXPECT_EQ(reply.errorName(), c.error);
            EXPECT_FALSE(reply.errorMessage().isEmpty());
        }
        EXPECT_EQ(phaseText(engine->phase()), c.phaseAfter);
        EXPECT_EQ(engine->lockKind(), lockBefore);
        EXPECT_EQ(quits, 0);
    }
}

TEST_F(Interface, TheRightPasswordCutsAndQuitsAfterTheReply) {
    engine->setPassword(u"secret"_s);
    engine->setPendingLock(LockKind::password);
    engine->rollOrResume();
    QDBusMessage reply = call(u"Cut"_s, {u"secret"_s});
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    EXPECT_EQ(engine->phase(), Phase::standby);
    EXPECT_FALSE(engine->gateLocked());

    engine->rollOrResume();
    reply = call(u"Quit"_s, {u"secret"_s});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    EXPECT_EQ(quits, 1);
}

TEST_F(Interface, ControlsReachTheEngineAndTheShell) {
    EXPECT_EQ(call(u"SetPendingLock"_s, {u"timer"_s}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(get(u"PendingLock"_s).toString(), u"timer"_s);
    call(u"RollOrResume"_s);
    EXPECT_TRUE(get(u"GateLocked"_s).toBool());
    EXPECT_EQ(get(u"LockKind"_s).toString(), u"timer"_s);
    call(u"Pause"_s);
    EXPECT_FALSE(get(u"Running"_s).toBool());

    // A lockup chosen over the bus becomes the one in effect.
    ASSERT_GE(engine->lockups().size(), 2);
    const Lockup second = engine->lockups()[1];
    EXPECT_EQ(call(u"SelectLockup"_s, {uuidText(second.id).toLower()}).type(), QDBusMessage::ReplyMessage);
    BusLockup active;
    get(u"ActiveLockup"_s).value<QDBusArgument>() >> active;
    EXPECT_EQ(active.name, second.name);

    call(u"ShowPopover"_s);
    EXPECT_EQ(popovers, 1);

    engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    EXPECT_EQ(call(u"OpenSet"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(get(u"OpenSetActive"_s).toBool());
    EXPECT_EQ(call(u"OpenSet"_s).errorName(), kRefused);
    EXPECT_EQ(call(u"CloseSet"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(get(u"OpenSetActive"_s).toBool());
}

TEST_F(Interface, ASecondConnectionSeesTheSameState) {
    call(u"RollOrResume"_s);
    tick();
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"other"_s);
    const QVariantMap mine = getAll(client());
    const QVariantMap theirs = getAll(other);
    EXPECT_EQ(mine.size(), bus->snapshot().size());
    EXPECT_EQ(keys(mine), keys(theirs));
    for (const char16_t* k : {u"Phase", u"Remaining", u"ClockText", u"StatusTitle", u"Running"})
        EXPECT_EQ(mine.value(QString::fromUtf16(k)), theirs.value(QString::fromUtf16(k)));
    EXPECT_EQ(theirs.value(u"Remaining"_s).toLongLong(), 1499);
    QDBusConnection::disconnectFromBus(u"other"_s);
}

TEST_F(Interface, ErrorsSpeakTheInterfaceLanguage) {
    rig.loc->setLang(Lang::fr);
    EXPECT_EQ(get(u"Language"_s).toString(), u"fr"_s);
    EXPECT_EQ(call(u"SkipBreak"_s).errorMessage(), u"Aucune pause à passer."_s);
    EXPECT_EQ(get(u"PhaseTitle"_s).toString(), u"EN ATTENTE"_s);
}

// The installed description and the live object must not drift apart.
TEST_F(Interface, TheInstalledDescriptionMatchesTheLiveObject) {
    auto members = [](const QString& xml) {
        QStringList out;
        QXmlStreamReader r(xml);
        bool inside = false;
        QString method;
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == u"interface")
                inside = r.attributes().value(QLatin1StringView("name")) == kIface;
            if (!inside || !r.isStartElement()) continue;
            const auto a = r.attributes();
            if (r.name() == u"property")
                out << u"property "_s + a.value(QLatin1StringView("name")).toString() + u' ' + a.value(QLatin1StringView("type")).toString() + u' ' + a.value(QLatin1StringView("access")).toString();
            else if (r.name() == u"method") method = a.value(QLatin1StringView("name")).toString(), out << u"method "_s + method;
            else if (r.name() == u"arg")
                out << method + u" arg "_s + a.value(QLatin1StringView("type")).toString() + u' ' + a.value(QLatin1StringView("direction")).toString();
            else if (r.name() == u"signal") out << u"signal "_s + a.value(QLatin1StringView("name")).toString();
        }
        out.sort();
        return out;
    };
    QFile file(QStringLiteral(MIVRA_INTERFACE_XML));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, u"org.freedesktop.DBus.Introspectable"_s,
                                                    u"Introspect"_s);
    const QDBusReply<QString> live = client().call(m, QDBus::BlockWithGui);
    ASSERT_TRUE(live.isValid());
    const QStringList installed = members(QString::fromUtf8(file.readAll()));
    EXPECT_EQ(installed.size(), 19 + 10 + 6) << "every property, method and argument";
    EXPECT_EQ(members(live.value()), installed);
}

#include "test_interface.moc"
