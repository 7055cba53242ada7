// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/statusnotifier.h"

#include "engine/loc.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

QDBusArgument& operator<<(QDBusArgument& a, const SniPixmap& p) {
    a.beginStructure();
    a << p.width << p.height << p.argb;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, SniPixmap& p) {
    a.beginStructure();
    a >> p.width >> p.height >> p.argb;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const SniToolTip& t) {
    a.beginStructure();
    a << t.iconName << t.pixmaps << t.title << t.text;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, SniToolTip& t) {
    a.beginStructure();
    a >> t.iconName >> t.pixmaps >> t.title >> t.text;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuLayout& l) {
    a.beginStructure();
    a << l.id << l.properties;
    a.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayout& child : l.children)
        a << QDBusVariant(QVariant::fromValue(child));
    a.endArray();
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuLayout& l) {
    a.beginStructure();
    a >> l.id >> l.properties;
    l.children.clear();
    a.beginArray();
    while (!a.atEnd()) {
        QDBusVariant v;
        a >> v;
        const QDBusArgument inner = v.variant().value<QDBusArgument>();
        MenuLayout child;
        inner >> child;
        l.children.append(child);
    }
    a.endArray();
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuItemProperties& p) {
    a.beginStructure();
    a << p.id << p.properties;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemProperties& p) {
    a.beginStructure();
    a >> p.id >> p.properties;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const MenuEvent& e) {
    a.beginStructure();
    a << e.id << e.eventId << e.data << e.timestamp;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, MenuEvent& e) {
    a.beginStructure();
    a >> e.id >> e.eventId >> e.data >> e.timestamp;
    a.endStructure();
    return a;
}

SniPixmap sniPixmap(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SniPixmap p{argb.width(), argb.height(), {}};
    p.argb.reserve(qsizetype(argb.width()) * argb.height() * 4);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = line[x];
            p.argb.append(char(qAlpha(c)))
                .append(char(qRed(c)))
                .append(char(qGreen(c)))
                .append(char(qBlue(c)));
        }
    }
    return p;
}

void registerStatusNotifierTypes() {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<QList<SniPixmap>>();
    qDBusRegisterMetaType<SniToolTip>();
    qDBusRegisterMetaType<MenuLayout>();
    qDBusRegisterMetaType<MenuItemProperties>();
    qDBusRegisterMetaType<QList<MenuItemProperties>>();
    qDBusRegisterMetaType<MenuEvent>();
    qDBusRegisterMetaType<QList<MenuEvent>>();
}

// The org.kde.StatusNotifierItem object.
class SniObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QList<SniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(QList<SniPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(QList<SniPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
public:
    explicit SniObject(StatusNotifierItem& owner) : QObject(&owner), m_owner(owner) {}

    QString category() const { return u"ApplicationStatus"_s; }
    QString id() const { return u"mivra"_s; }
    QString title() const { return u"Mivra"_s; }
    QString status() const { return u"Active"_s; }
    int windowId() const { return 0; }
    QString iconName() const { return m_owner.m_iconName; }
    QString iconThemePath() const { return m_owner.m_iconThemePath; }
    QList<SniPixmap> iconPixmap() const { return m_owner.m_iconPixmaps; }
    QList<SniPixmap> noPixmaps() const { return {}; }
    QString empty() const { return {}; }
    SniToolTip toolTip() const { return {QString(), {}, u"Mivra"_s, m_owner.m_label}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QString::fromUtf16(StatusNotifierItem::menuPath)); }
    QString label() const { return m_owner.m_label; }
    // The widest label a clock shows, so hosts keep the width steady.
    QString labelGuide() const { return u"00:00"_s; }

public slots:
    void Activate(int x, int y) {
        if (m_owner.m_hooks.activate) m_owner.m_hooks.activate(QPoint(x, y));
    }
    void SecondaryActivate(int x, int y) { Activate(x, y); }
    void ContextMenu(int x, int y) {
        if (m_owner.m_hooks.contextMenu)
            m_owner.m_hooks.contextMenu(QPoint(x, y));
        else
            Activate(x, y);
    }
    void Scroll(int, const QString&) {}

signals:
    // moc defines the signals in statusnotifier.moc, with parameter names of its own.
    // NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);
    // NOLINTEND(readability-inconsistent-declaration-parameter-name)

private:
    StatusNotifierItem& m_owner;
};

// The com.canonical.dbusmenu object: Open and Quit.
class MenuObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    enum Item { root = 0, open = 1, quit = 2 };

    explicit MenuObject(StatusNotifierItem& owner) : QObject(&owner), m_owner(owner) {}

    uint version() const { return 3; }
    QString textDirection() const { return u"ltr"_s; }
    QString status() const { return u"normal"_s; }
    QStringList iconThemePath() const { return {}; }

    void retranslate() { emit LayoutUpdated(++m_revision, root); }

    QVariantMap propertiesOf(int id) const {
        switch (id) {
        case root:
            return {{u"children-display"_s, u"submenu"_s}};
        case open:
            return {{u"label"_s, pick(u"Open Mivra"_s, u"Ouvrir Mivra"_s)}};
        case quit:
            return {{u"label"_s, pick(u"Quit Mivra"_s, u"Quitter Mivra"_s)}};
        default:
            return {};
        }
    }

    static QVariantMap only(const QVariantMap& all, const QStringList& names) {
        if (names.isEmpty()) return all;
        QVariantMap some;
        for (const QString& n : names)
            if (all.contains(n)) some.insert(n, all.value(n));
        return some;
    }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, MenuLayout& layout) {
        layout = {parentId, only(propertiesOf(parentId), propertyNames), {}};
        if (parentId == root && recursionDepth != 0)
            for (int id : {int(open), int(quit)})
                layout.children.append({id, only(propertiesOf(id), propertyNames), {}});
        return m_revision;
    }
    QList<MenuItemProperties> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        QList<MenuItemProperties> out;
        for (int id : ids)
            if (id >= root && id <= quit) out.append({id, only(propertiesOf(id), propertyNames)});
        return out;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(propertiesOf(id).value(name));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (eventId != u"clicked"_s) return;
        // After the reply: the quit path may run a modal alert.
        QPointer<MenuObject> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, id] {
                if (!self) return;
                const TrayHooks& h = self->m_owner.m_hooks;
                if (id == open && h.open) h.open();
                if (id == quit && h.quit) h.quit();
            },
            Qt::QueuedConnection);
    }
    QList<int> EventGroup(const QList<MenuEvent>& events) {
        QList<int> unknown;
        for (const MenuEvent& e : events) {
            if (e.id < root || e.id > quit)
                unknown.append(e.id);
            else
                Event(e.id, e.eventId, e.data, e.timestamp);
        }
        return unknown;
    }
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
        idErrors.clear();
        return {};
    }

signals:
    // NOLINTBEGIN(readability-inconsistent-declaration-parameter-name): named by moc, as above
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);
    // NOLINTEND(readability-inconsistent-declaration-parameter-name)

private:
    StatusNotifierItem& m_owner;
    uint m_revision = 1;
};

StatusNotifierItem::StatusNotifierItem(TrayHooks hooks, QObject* parent)
    : QObject(parent), m_hooks(std::move(hooks)) {
    registerStatusNotifierTypes();
    m_item = new SniObject(*this);
    m_menu = new MenuObject(*this);
    if (Loc* loc = Loc::shared()) connect(loc, &Loc::langChanged, this, &StatusNotifierItem::retranslate);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!m_connection) return;
    m_connection->unregisterObject(QString::fromUtf16(itemPath));
    m_connection->unregisterObject(QString::fromUtf16(menuPath));
    m_connection->unregisterService(m_serviceName);
}

void StatusNotifierItem::start(QDBusConnection connection) {
    m_connection = connection;
    static int counter = 0;
    m_serviceName =
        u"org.kde.StatusNotifierItem-%1-%2"_s.arg(QCoreApplication::applicationPid()).arg(++counter);
    const auto contents = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                          QDBusConnection::ExportAllSignals;
    connection.registerObject(QString::fromUtf16(itemPath), m_item, contents);
    connection.registerObject(QString::fromUtf16(menuPath), m_menu, contents);
    connection.registerService(m_serviceName);

    auto* watcher = new QDBusServiceWatcher(QString::fromUtf16(watcherService), connection,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                setRegistered(false);
                m_registerTries = 0;
                if (!newOwner.isEmpty()) registerWithWatcher();
            });
    registerWithWatcher();
}

void StatusNotifierItem::registerWithWatcher() {
    if (!m_connection) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromUtf16(watcherService), u"/StatusNotifierWatcher"_s,
                                       QString::fromUtf16(watcherService), u"RegisterStatusNotifierItem"_s);
    call << m_serviceName;
    auto* pending = new QDBusPendingCallWatcher(m_connection->asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        setRegistered(!w->isError());
        // A watcher that has just taken its name may not serve its object yet: ask again a few
        // times while it stays on the bus.
        if (w->isError() && m_registerTries < 10 && m_connection &&
            m_connection->interface()->isServiceRegistered(QString::fromUtf16(watcherService)).value()) {
            ++m_registerTries;
            QTimer::singleShot(500, this, [this] {
                if (!m_registered) registerWithWatcher();
            });
        }
        if (!w->isError()) m_registerTries = 0;
    });
}

void StatusNotifierItem::setRegistered(bool on) {
    if (m_registered == on) return;
    m_registered = on;
    emit registeredChanged(on);
}

void StatusNotifierItem::setStatusTitle(const QString& title) {
    // The host spaces the label from the icon itself.
    const QString label = title.trimmed();
    if (label == m_label) return;
    m_label = label;
    // Only a host that has the item listens; one that comes later reads the properties.
    if (!m_registered) return;
    auto* item = static_cast<SniObject*>(m_item);
    emit item->XAyatanaNewLabel(m_label, item->labelGuide());
    emit item->NewToolTip();
}

void StatusNotifierItem::setIconName(const QString& name) {
    if (name == m_iconName) return;
    m_iconName = name;
    if (m_registered) emit static_cast<SniObject*>(m_item)->NewIcon();
}

void StatusNotifierItem::setIconPixmaps(const QList<SniPixmap>& pixmaps) {
    m_iconPixmaps = pixmaps;
    emit static_cast<SniObject*>(m_item)->NewIcon();
}

void StatusNotifierItem::setIconThemePath(const QString& path) {
    if (path == m_iconThemePath) return;
    m_iconThemePath = path;
    if (m_registered) emit static_cast<SniObject*>(m_item)->NewIcon();
}

void StatusNotifierItem::retranslate() {
    static_cast<MenuObject*>(m_menu)->retranslate();
}

#include "statusnotifier.moc"
