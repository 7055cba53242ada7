// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Mivra's own status item for trays that speak the StatusNotifierItem protocol, with the label that
// hosts of the AppIndicator kind draw beside the icon and a two-entry menu (Open, Quit) over
// com.canonical.dbusmenu. Without a watcher on the bus the shell keeps its ordinary tray icon.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QVariantMap>

#include <functional>
#include <optional>

struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};

struct SniToolTip {
    QString iconName;
    QList<SniPixmap> pixmaps;
    QString title;
    QString text;
};

// One menu entry and its children, as dbusmenu lays them out: (ia{sv}av).
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

QDBusArgument& operator<<(QDBusArgument& a, const SniPixmap& p);
const QDBusArgument& operator>>(const QDBusArgument& a, SniPixmap& p);
QDBusArgument& operator<<(QDBusArgument& a, const SniToolTip& t);
const QDBusArgument& operator>>(const QDBusArgument& a, SniToolTip& t);
QDBusArgument& operator<<(QDBusArgument& a, const MenuLayout& l);
const QDBusArgument& operator>>(const QDBusArgument& a, MenuLayout& l);
QDBusArgument& operator<<(QDBusArgument& a, const MenuItemProperties& p);
const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemProperties& p);
QDBusArgument& operator<<(QDBusArgument& a, const MenuEvent& e);
const QDBusArgument& operator>>(const QDBusArgument& a, MenuEvent& e);

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)
Q_DECLARE_METATYPE(MenuLayout)
Q_DECLARE_METATYPE(MenuItemProperties)
Q_DECLARE_METATYPE(MenuEvent)

void registerStatusNotifierTypes();

// An image as the item sends it: width, height and ARGB32 pixels in network byte order.
SniPixmap sniPixmap(const QImage& image);

// What the shell lends the item.
struct TrayHooks {
    // A click on the icon: opens (or closes) the popover next to the point on screen.
    std::function<void(QPoint)> activate;
    // A host that draws no menu of its own asks for one at the point; without this hook the
    // popover opens there instead (it carries Quit too).
    std::function<void(QPoint)> contextMenu;
    // The menu's "Open".
    std::function<void()> open;
    // The menu's "Quit": the shell's quit path, with its termination check and alerts.
    std::function<void()> quit;
};

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    static constexpr char16_t watcherService[] = u"org.kde.StatusNotifierWatcher";
    static constexpr char16_t itemPath[] = u"/StatusNotifierItem";
    static constexpr char16_t menuPath[] = u"/MenuBar";

    explicit StatusNotifierItem(TrayHooks hooks, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Serves the item on `connection` and registers it with the watcher whenever one is on the bus.
    void start(QDBusConnection connection);

    // The item is registered with a watcher: the shell hides its ordinary tray icon meanwhile.
    bool registered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    // The tray title: the label beside the icon and the tooltip's text.
    void setStatusTitle(const QString& title);
    void setIconName(const QString& name);
    // The icon itself, drawn: hosts that do not look names up draw these (ARGB32, several sizes).
    void setIconPixmaps(const QList<SniPixmap>& pixmaps);
    // Where the icon names are found when they are not in the desktop's theme.
    void setIconThemePath(const QString& path);
    // The menu's texts follow the interface language.
    void retranslate();

    QString label() const { return m_label; }
    QString iconName() const { return m_iconName; }
    QString iconThemePath() const { return m_iconThemePath; }
    const QList<SniPixmap>& iconPixmaps() const { return m_iconPixmaps; }

signals:
    void registeredChanged(bool registered);

private:
    friend class SniObject;
    friend class MenuObject;
    void registerWithWatcher();
    void setRegistered(bool on);

    TrayHooks m_hooks;
    std::optional<QDBusConnection> m_connection;
    QObject* m_item = nullptr;
    QObject* m_menu = nullptr;
    QString m_serviceName;
    QString m_label;
    QString m_iconName = QStringLiteral("app.oriflan.mivra");
    QString m_iconThemePath;
    QList<SniPixmap> m_iconPixmaps;
    bool m_registered = false;
    int m_registerTries = 0;
};
