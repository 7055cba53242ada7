// SPDX-License-Identifier: GPL-3.0-or-later
// Mivra's objects on a private session bus, each served on a connection of its own as in the
// application, and read and driven from other connections as a client would: its own interface, and
// the status notifier item against a stand-in watcher.
#include "engine/loc.h"
#include "fakes/enginerig.h"
#include "ui/shell/busservice.h"
#include "ui/shell/statusnotifier.h"

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
const QString kProps = u"org.freedesktop.DBus.Properties"_s;

// Collects the PropertiesChanged signals a client sees.
class Recorder : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString& iface, const QVariantMap& props, const QStringList&) {
        if (iface == kIface) changes.append(props);
    }
};

struct Interface : ::testing::Test {
    EngineRig rig;
    TimerModel* engine = nullptr;
    std::unique_ptr<MivraBus> bus;
    int quits = 0;
    Recorder recorder;

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run through dbus-run-session)";
        fresh();
        ASSERT_TRUE(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"mivra"_s).registerService(kService));
        ASSERT_TRUE(client().connect(kService, kPath, kProps, u"PropertiesChanged"_s, &recorder,
                                     SLOT(changed(QString, QVariantMap, QStringList))));
        settle();
        recorder.changes.clear();
    }
    // A new engine (password "secret", ticked by hand) behind a new object on the served connection.
    void fresh() {
        bus.reset();
        rig.forgetTake();
        engine = &rig.start();
        engine->timer().stop();
        engine->setPassword(u"secret"_s);
        BusHooks hooks;
        hooks.statusTitle = [this]() -> QString { return u" "_s + engine->clockText(); };
        hooks.quit = [this] { ++quits; };
        bus = std::make_unique<MivraBus>(*engine, hooks);
        ASSERT_TRUE(bus->attach(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"mivra"_s)));
    }
    void TearDown() override {
        bus.reset();
        QDBusConnection::disconnectFromBus(u"mivra"_s);
    }

    static QDBusConnection client() { return QDBusConnection::sessionBus(); }
    // Lets queued flushes run, then makes sure what they sent has arrived: the served connection
    // pings this one, and the bus hands each sender's messages over in the order they were sent.
    static void settle() {
        QCoreApplication::processEvents();
        QDBusMessage ping = QDBusMessage::createMethodCall(client().baseService(), u"/"_s,
                                                           u"org.freedesktop.DBus.Peer"_s, u"Ping"_s);
        QDBusConnection(u"mivra"_s).call(ping, QDBus::Block, 30000);
        QCoreApplication::processEvents();
    }
    static QDBusMessage call(const QString& method, const QVariantList& args = {},
                             const QString& iface = kIface, QDBusConnection c = client()) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, iface, method);
        m.setArguments(args);
        const QDBusMessage reply = c.call(m, QDBus::BlockWithGui);
        settle();
        return reply;
    }
    static QVariant get(const QString& name) {
        return call(u"Get"_s, {kIface, name}, kProps).arguments().value(0).value<QDBusVariant>().variant();
    }
    void tick() {
        engine->tick();
        settle();
    }
};
} // namespace

TEST_F(Interface, ATakeStartedFromTheBusCountsDownOneAnnouncementPerSecond) {
    EXPECT_EQ(get(u"Phase"_s).toString(), u"standby"_s);
    const QDBusMessage reply = call(u"RollOrResume"_s);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(get(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_TRUE(get(u"Running"_s).toBool());
    ASSERT_EQ(recorder.changes.size(), 1) << "one announcement for the whole start";
    EXPECT_EQ(recorder.changes[0].value(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_FALSE(recorder.changes[0].contains(u"TakesToday"_s)) << "only what changed is announced";

    recorder.changes.clear();
    for (int i = 0; i < 3; ++i)
        tick();
    ASSERT_EQ(recorder.changes.size(), 3);
    for (const QVariantMap& c : recorder.changes)
        EXPECT_EQ(c.keys(), (QStringList{u"ClockText"_s, u"Remaining"_s, u"StatusTitle"_s}));
    EXPECT_EQ(recorder.changes.back().value(u"Remaining"_s).toLongLong(), 1497);
    EXPECT_EQ(get(u"ClockText"_s).toString(), u"24:57"_s);

    // Another connection reads every property, the same values.
    const QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"other"_s);
    const QVariantMap all =
        qdbus_cast<QVariantMap>(call(u"GetAll"_s, {kIface}, kProps, other).arguments().value(0));
    QDBusConnection::disconnectFromBus(u"other"_s);
    EXPECT_EQ(all.keys(), bus->snapshot().keys());
    EXPECT_EQ(all.value(u"Remaining"_s).toLongLong(), 1497);
    EXPECT_EQ(all.value(u"StatusTitle"_s).toString(), u" 24:57"_s);

    // A paused clock says nothing however often the engine ticks or the shell asks.
    call(u"Pause"_s);
    recorder.changes.clear();
    for (int i = 0; i < 3; ++i)
        tick();
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
    const QString invalid = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
    const struct {
        const char* name;
        LockKind take; // chosen before the take; rolling when `rolling`
        bool rolling;
        QString method;
        QVariantList args;
        QString error; // expected error name, or empty for a false reply
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
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

// Cutting with the password, showing the popover and quitting are driven through mivractl.
TEST_F(Interface, GrantedCallsReachTheEngine) {
    EXPECT_EQ(call(u"SetPendingLock"_s, {u"password"_s}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(get(u"PendingLock"_s).toString(), u"password"_s);
    const Lockup second = engine->lockups().value(1);
    EXPECT_EQ(call(u"SelectLockup"_s, {uuidText(second.id).toLower()}).type(), QDBusMessage::ReplyMessage);
    BusLockup active;
    get(u"ActiveLockup"_s).value<QDBusArgument>() >> active;
    EXPECT_EQ(active.name, second.name);

    engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    EXPECT_EQ(call(u"OpenSet"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(get(u"OpenSetActive"_s).toBool());
    EXPECT_EQ(call(u"OpenSet"_s).errorName(), kRefused);
}

// The installed description and the live object must not drift apart.
TEST_F(Interface, TheInstalledDescriptionMatchesTheLiveObject) {
    auto members = [](const QString& xml) {
        QStringList out;
        QXmlStreamReader r(xml);
        QString interface, method;
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement) continue;
            auto a = [&r](const char* key) {
                return r.attributes().value(QLatin1StringView(key)).toString();
            };
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
    const QStringList installed = members(QString::fromUtf8(file.readAll()));
    const QStringList served = members(
        call(u"Introspect"_s, {}, u"org.freedesktop.DBus.Introspectable"_s).arguments().value(0).toString());
    EXPECT_FALSE(installed.isEmpty());
    EXPECT_EQ(served, installed);
}

namespace {
const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    QStringList items;
    QStringList labels; // as a host hears them
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
    void newLabel(const QString& label, const QString&) { labels << label; }
};

struct StatusItem : ::testing::Test {
    MemoryDefaults defaults;
    std::unique_ptr<Loc> loc;
    FakeWatcher watcher;
    QList<QPoint> activations;
    int opens = 0, quits = 0;
    std::unique_ptr<StatusNotifierItem> item;

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run through dbus-run-session)";
        loc = std::make_unique<Loc>(defaults, QStringList{u"en-US"_s});
        registerStatusNotifierTypes();
    }
    void TearDown() override {
        item.reset();
        stopWatcher();
        QDBusConnection::disconnectFromBus(u"tray"_s);
    }
    void startWatcher() {
        QDBusConnection c = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"watcher"_s);
        ASSERT_TRUE(c.registerObject(u"/StatusNotifierWatcher"_s, &watcher,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(c.registerService(kWatcher));
    }
    void stopWatcher() {
        QDBusConnection(u"watcher"_s).unregisterService(kWatcher);
        QDBusConnection::disconnectFromBus(u"watcher"_s);
    }
    void startItem() {
        TrayHooks hooks;
        hooks.activate = [this](QPoint p) { activations << p; };
        hooks.open = [this] { ++opens; };
        hooks.quit = [this] { ++quits; };
        item = std::make_unique<StatusNotifierItem>(hooks);
        item->start(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"tray"_s));
    }
    static QDBusConnection host() { return QDBusConnection::sessionBus(); }
    QDBusMessage call(const QString& iface, const QString& method, const QVariantList& args) {
        const bool menu = iface == u"com.canonical.dbusmenu";
        QDBusMessage m = QDBusMessage::createMethodCall(
            item->serviceName(), menu ? u"/MenuBar"_s : u"/StatusNotifierItem"_s, iface, method);
        m.setArguments(args);
        const QDBusMessage reply = host().call(m, QDBus::BlockWithGui);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        QTest::qWait(20);
        return reply;
    }
    QVariant property(const QString& name) {
        return call(u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {u"org.kde.StatusNotifierItem"_s, name})
            .arguments()
            .value(0)
            .value<QDBusVariant>()
            .variant();
    }
    MenuLayout layout(uint* revision = nullptr) {
        const QDBusMessage reply = call(u"com.canonical.dbusmenu"_s, u"GetLayout"_s, {0, -1, QStringList{}});
        if (revision) *revision = reply.arguments().value(0).toUInt();
        MenuLayout l;
        reply.arguments().value(1).value<QDBusArgument>() >> l;
        return l;
    }
};
} // namespace

TEST_F(StatusItem, RegistersWhileAWatcherIsThereAndFallsBackWhenItGoes) {
    startItem();
    QSignalSpy spy(item.get(), &StatusNotifierItem::registeredChanged);
    EXPECT_FALSE(spy.wait(200));
    EXPECT_FALSE(item->registered()) << "no watcher: the ordinary tray icon stays";

    startWatcher();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_TRUE(item->registered());
    EXPECT_EQ(watcher.items, QStringList{item->serviceName()});
    EXPECT_TRUE(host().interface()->isServiceRegistered(item->serviceName()).value());

    stopWatcher();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_FALSE(item->registered()) << "the ordinary tray icon takes over";

    // A watcher that comes back (a restarted panel) gets the item again.
    startWatcher();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_TRUE(item->registered());
    EXPECT_EQ(watcher.items.size(), 2);
}

TEST_F(StatusItem, TheLabelFollowsTheTitleAndTheIconAndMenuAnswerClicks) {
    startItem();
    ASSERT_TRUE(host().connect(item->serviceName(), u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s,
                               u"XAyatanaNewLabel"_s, &watcher, SLOT(newLabel(QString, QString))));
    item->setStatusTitle(u" 25:01"_s); // nobody has the item yet: nothing is sent
    QSignalSpy spy(item.get(), &StatusNotifierItem::registeredChanged);
    startWatcher();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(property(u"XAyatanaLabel"_s).toString(), u"25:01"_s);
    for (const QString& title : {u" 25:00"_s, u" 25:00"_s, u" 24:59  ·  in 5m"_s, QString(), u" 9:05"_s})
        item->setStatusTitle(title); // the same title again says nothing
    ASSERT_TRUE(waitUntil([&] { return watcher.labels.value(watcher.labels.size() - 1) == u"9:05"_s; }));
    EXPECT_EQ(watcher.labels, (QStringList{u"25:00"_s, u"24:59  ·  in 5m"_s, QString(), u"9:05"_s}));
    EXPECT_EQ(property(u"XAyatanaLabel"_s).toString(), u"9:05"_s);
    SniToolTip tip;
    property(u"ToolTip"_s).value<QDBusArgument>() >> tip;
    EXPECT_EQ(tip.title, u"Mivra"_s);
    EXPECT_EQ(tip.text, u"9:05"_s);

    call(u"org.kde.StatusNotifierItem"_s, u"Activate"_s, {1200, 4});
    EXPECT_EQ(activations, QList<QPoint>{QPoint(1200, 4)});
    const MenuLayout menu = layout();
    ASSERT_EQ(menu.children.size(), 2);
    EXPECT_EQ(menu.children[0].properties.value(u"label"_s).toString(), u"Open Mivra"_s);
    EXPECT_EQ(menu.children[1].properties.value(u"label"_s).toString(), u"Quit Mivra"_s);
    // Each entry clicked once, then Quit hovered: a hover is no click.
    const std::pair<int, QString> events[] = {{menu.children[0].id, u"clicked"_s},
                                              {menu.children[1].id, u"clicked"_s},
                                              {menu.children[1].id, u"hovered"_s}};
    for (const auto& [id, event] : events)
        call(u"com.canonical.dbusmenu"_s, u"Event"_s, {id, event, QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(quits, 1);

    // The menu follows the interface language, with a new revision that tells hosts to reload.
    loc->setLang(Lang::fr);
    uint revision = 0;
    EXPECT_EQ(layout(&revision).children.value(1).properties.value(u"label"_s).toString(),
              u"Quitter Mivra"_s);
    EXPECT_GT(revision, 1u);
}

#include "test_interface.moc"

TEST_F(StatusItem, SendsTheIconAsPixelsAndWhereItsNameIsFound) {
    startWatcher();
    startItem();
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xff));
    image.setPixel(1, 0, qRgba(0, 0, 0, 0));
    item->setIconPixmaps({sniPixmap(image), sniPixmap(QImage(22, 22, QImage::Format_ARGB32))});
    item->setIconThemePath(u"/opt/mivra/icons"_s);

    QList<SniPixmap> pixmaps;
    property(u"IconPixmap"_s).value<QDBusArgument>() >> pixmaps;
    ASSERT_EQ(pixmaps.size(), 2);
    EXPECT_EQ(std::pair(pixmaps[0].width, pixmaps[0].height), std::pair(2, 1));
    // Alpha, red, green, blue: network byte order, whatever the machine's.
    EXPECT_EQ(pixmaps[0].argb, QByteArray("\xff\x11\x22\x33\x00\x00\x00\x00", 8));
    EXPECT_EQ(pixmaps[1].argb.size(), 22 * 22 * 4);
    EXPECT_EQ(property(u"IconThemePath"_s).toString(), u"/opt/mivra/icons"_s);
}
