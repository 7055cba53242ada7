// Mivra's status notifier item against a stand-in watcher and a host reading it, on a private bus.
#include "engine/loc.h"
#include "fakes/fakes.h"
#include "ui/shell/statusnotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    QStringList items;
    bool hostRegistered() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
};

// What a host reads and hears of the item.
class Host : public QObject {
    Q_OBJECT
public:
    QStringList labels;
public slots:
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
        if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus (run through dbus-run-session)";
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
        QDBusConnection c(u"watcher"_s);
        if (!c.isConnected()) return;
        c.unregisterService(kWatcher);
        c.unregisterObject(u"/StatusNotifierWatcher"_s);
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
    QDBusMessage callItem(const QString& path, const QString& iface, const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(item->serviceName(), path, iface, method);
        m.setArguments(args);
        const QDBusMessage reply = host().call(m, QDBus::BlockWithGui);
        QTest::qWait(20);
        return reply;
    }
    QVariant property(const QString& name) {
        const QDBusMessage r = callItem(u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                                        {u"org.kde.StatusNotifierItem"_s, name});
        EXPECT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
        return r.arguments().value(0).value<QDBusVariant>().variant();
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

TEST_F(StatusItem, TheLabelFollowsTheTitle) {
    startWatcher();
    startItem();
    Host h;
    ASSERT_TRUE(host().connect(item->serviceName(), u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s,
                               u"XAyatanaNewLabel"_s, &h, SLOT(newLabel(QString, QString))));
    item->setStatusTitle(u" 25:00"_s);
    item->setStatusTitle(u" 25:00"_s); // the same title again says nothing
    item->setStatusTitle(u" 24:59  ·  in 5m"_s);
    item->setStatusTitle(QString());
    QTest::qWait(100);
    EXPECT_EQ(h.labels, (QStringList{u"25:00"_s, u"24:59  ·  in 5m"_s, QString()}));

    item->setStatusTitle(u" 9:05"_s);
    EXPECT_EQ(property(u"XAyatanaLabel"_s).toString(), u"9:05"_s);
    SniToolTip tip;
    property(u"ToolTip"_s).value<QDBusArgument>() >> tip;
    EXPECT_EQ(tip.title, u"Mivra"_s);
    EXPECT_EQ(tip.text, u"9:05"_s);
    EXPECT_EQ(property(u"Menu"_s).value<QDBusObjectPath>().path(), u"/MenuBar"_s);
}

TEST_F(StatusItem, ActivateOpensThePopoverAtThePointAndTheMenuOpensOrQuits) {
    startWatcher();
    startItem();
    callItem(u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s, u"Activate"_s, {1200, 4});
    EXPECT_EQ(activations, QList<QPoint>{QPoint(1200, 4)});

    QDBusMessage reply = callItem(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"GetLayout"_s,
                                  {0, -1, QStringList{}});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    MenuLayout layout;
    reply.arguments().value(1).value<QDBusArgument>() >> layout;
    ASSERT_EQ(layout.children.size(), 2);
    EXPECT_EQ(layout.children[0].properties.value(u"label"_s).toString(), u"Open Mivra"_s);
    EXPECT_EQ(layout.children[1].properties.value(u"label"_s).toString(), u"Quit Mivra"_s);

    for (const MenuLayout& entry : layout.children)
        callItem(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"Event"_s,
                 {entry.id, u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
    // A hover is no click.
    callItem(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"Event"_s,
             {layout.children[1].id, u"hovered"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(quits, 1);

    // The menu follows the interface language.
    loc->setLang(Lang::fr);
    reply = callItem(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"GetLayout"_s, {0, -1, QStringList{}});
    reply.arguments().value(1).value<QDBusArgument>() >> layout;
    EXPECT_EQ(layout.children.value(1).properties.value(u"label"_s).toString(), u"Quitter Mivra"_s);
    EXPECT_GT(reply.arguments().value(0).toUInt(), 1u) << "a new revision tells hosts to reload";
}

#include "test_statusnotifier.moc"
