// SPDX-License-Identifier: GPL-3.0-or-later
// The GLib headers come before any Qt header: Qt's `signals` keyword would clash with theirs.
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

#include "platform/linux/edscalendarstore.h"

#include "platform/defaults.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimeZone>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString kAccessKey = u"mivra.calendarAccess"_s;
// Bursts of registry and view notifications become one change signal.
constexpr int kDebounceMs = 250;

QString text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

// Owns a reference returned by the library ("transfer full").
template <class T> struct Owned {
    T* p = nullptr;
    explicit Owned(T* ptr) : p(ptr) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (p) g_object_unref(p);
    }
    explicit operator bool() const { return p != nullptr; }
};

QString normalisedAddress(QString a) {
    a = a.trimmed();
    if (a.startsWith(u"mailto:"_s, Qt::CaseInsensitive)) a = a.mid(7);
    return a.toLower();
}

Participation participationOf(ICalParameter* status) {
    // "PARTSTAT=ACCEPTED": the value is read as every store reads it.
    gchar* text = i_cal_parameter_as_ical_string(status);
    const QByteArray whole(text ? text : "");
    g_free(text);
    return participationFromPartstat(whole.mid(whole.indexOf('=') + 1));
}

// The answer of the first attendee that is one of `addresses`; none without such an attendee.
Participation userParticipation(ICalComponent* comp, const QStringList& addresses) {
    if (addresses.isEmpty()) return Participation::none;
    ICalProperty* prop = i_cal_component_get_first_property(comp, I_CAL_ATTENDEE_PROPERTY);
    while (prop) {
        Owned<ICalProperty> held(prop);
        if (addresses.contains(normalisedAddress(text(i_cal_property_get_attendee(prop))))) {
            Owned<ICalParameter> status(i_cal_property_get_first_parameter(prop, I_CAL_PARTSTAT_PARAMETER));
            // An attendee without PARTSTAT has not answered yet.
            return status ? participationOf(status.p) : Participation::pending;
        }
        prop = i_cal_component_get_next_property(comp, I_CAL_ATTENDEE_PROPERTY);
    }
    return Participation::none;
}

// A date (all-day) is read as local midnight; a floating time as local time; others by their zone.
QDateTime instant(ICalTime* t) {
    if (!t || i_cal_time_is_null_time(t)) return {};
    const QDate date(i_cal_time_get_year(t), i_cal_time_get_month(t), i_cal_time_get_day(t));
    if (i_cal_time_is_date(t)) return QDateTime(date, QTime(0, 0));
    ICalTimezone* zone = i_cal_time_get_timezone(t);
    if (!zone && i_cal_time_is_utc(t)) zone = i_cal_timezone_get_utc_timezone();
    if (zone) return QDateTime::fromSecsSinceEpoch(i_cal_time_as_timet_with_zone(t, zone));
    return QDateTime(date, QTime(i_cal_time_get_hour(t), i_cal_time_get_minute(t), i_cal_time_get_second(t)));
}

struct Expansion {
    QString calendarId;
    QStringList addresses;
    QList<StoreEvent> events;
    QList<QDateTime> recurrence; // per event: the occurrence it stands for
    QSet<QString> series;        // UIDs of recurring events seen
};

StoreEvent toEvent(ICalComponent* comp, ICalTime* start, ICalTime* end, const Expansion& x) {
    StoreEvent e;
    e.id = text(i_cal_component_get_uid(comp));
    e.calendarId = x.calendarId;
    e.title = text(i_cal_component_get_summary(comp));
    e.allDay = i_cal_time_is_date(start);
    e.start = instant(start);
    e.end = instant(end);
    if (!e.end.isValid() || e.end < e.start) e.end = e.start;
    e.cancelled = i_cal_component_get_status(comp) == I_CAL_STATUS_CANCELLED;
    e.participation = userParticipation(comp, x.addresses);
    if (Owned<ICalProperty> url(i_cal_component_get_first_property(comp, I_CAL_URL_PROPERTY)); url)
        e.url = QUrl(text(i_cal_property_get_url(url.p)));
    e.location = text(i_cal_component_get_location(comp));
    e.notes = text(i_cal_component_get_description(comp));
    return e;
}

QDateTime recurrenceOf(ICalComponent* comp) {
    if (Owned<ICalProperty> p(i_cal_component_get_first_property(comp, I_CAL_RECURRENCEID_PROPERTY)); !p)
        return {};
    Owned<ICalTime> rid(i_cal_component_get_recurrenceid(comp));
    return instant(rid.p);
}

bool isSeries(ICalComponent* comp) {
    for (ICalPropertyKind kind : {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY})
        if (Owned<ICalProperty> p(i_cal_component_get_first_property(comp, kind)); p) return true;
    return false;
}

gboolean addInstance(ICalComponent* comp, ICalTime* start, ICalTime* end, gpointer data, GCancellable*,
                     GError**) {
    auto* x = static_cast<Expansion*>(data);
    StoreEvent e = toEvent(comp, start, end, *x);
    if (!e.start.isValid()) return TRUE;
    const QDateTime rid = recurrenceOf(comp);
    // The library gives each generated occurrence a RECURRENCE-ID of its own; the rule stays on it.
    if (isSeries(comp)) x->series.insert(e.id);
    x->recurrence.append(rid.isValid() ? rid : e.start);
    x->events.append(std::move(e));
    return TRUE;
}

// Some backends answer the range query with a series' master alone, so the library expands the
// series without its moved or changed occurrences. Those are read by UID and put in place of the
// occurrences they stand for.
void applyDetached(ECalClient* client, Expansion& x, time_t from, time_t to, GCancellable* cancellable) {
    const QDateTime windowStart = QDateTime::fromSecsSinceEpoch(from),
                    windowEnd = QDateTime::fromSecsSinceEpoch(to);
    for (const QString& uid : std::as_const(x.series)) {
        GSList* objects = nullptr;
        if (!e_cal_client_get_objects_for_uid_sync(client, uid.toUtf8().constData(), &objects, cancellable,
                                                   nullptr))
            continue;
        for (GSList* o = objects; o; o = o->next) {
            ICalComponent* comp = e_cal_component_get_icalcomponent(E_CAL_COMPONENT(o->data));
            const QDateTime rid = recurrenceOf(comp);
            if (!rid.isValid()) continue;
            for (qsizetype i = x.events.size() - 1; i >= 0; --i) {
                if (x.events[i].id == uid && x.recurrence[i] == rid) {
                    x.events.removeAt(i);
                    x.recurrence.removeAt(i);
                }
            }
            Owned<ICalTime> start(i_cal_component_get_dtstart(comp)), end(i_cal_component_get_dtend(comp));
            StoreEvent e = toEvent(comp, start.p, end.p, x);
            if (e.start.isValid() && e.start < windowEnd && (e.end > windowStart || e.start >= windowStart)) {
                x.events.append(std::move(e));
                x.recurrence.append(rid);
            }
        }
        g_slist_free_full(objects, g_object_unref);
    }
}

// Runs on a worker thread: these library calls wait on the server.
QList<StoreEvent> expand(ECalClient* client, const QString& calendarId, QStringList addresses, time_t from,
                         time_t to, GCancellable* cancellable) {
    gchar* own = nullptr;
    if (e_client_get_backend_property_sync(E_CLIENT(client), E_CAL_BACKEND_PROPERTY_CAL_EMAIL_ADDRESS, &own,
                                           cancellable, nullptr) &&
        own && *own)
        addresses.append(normalisedAddress(text(own)));
    g_free(own);
    Expansion x{calendarId, addresses, {}, {}, {}};
    e_cal_client_generate_instances_sync(client, from, to, cancellable, addInstance, &x);
    applyDetached(client, x, from, to, cancellable);
    return x.events;
}

ICalTimezone* localZone() {
    const QByteArray name = QTimeZone::systemTimeZoneId();
    ICalTimezone* zone = name.isEmpty() ? nullptr : i_cal_timezone_get_builtin_timezone(name.constData());
    return zone ? zone : i_cal_timezone_get_utc_timezone();
}

void listFree(GList* list) {
    g_list_free_full(list, g_object_unref);
}

} // namespace

struct EdsCalendarStore::Impl {
    explicit Impl(EdsCalendarStore* owner) : q(owner) {
        // Few workers: a server that hangs holds these, not the application's shared pool.
        workers.setMaxThreadCount(2);
        debounce.setSingleShot(true);
        debounce.setInterval(kDebounceMs);
        QObject::connect(&debounce, &QTimer::timeout, q, &CalendarStore::changed);
    }
    ~Impl() {
        g_cancellable_cancel(cancellable);
        for (auto it = clients.begin(); it != clients.end(); ++it)
            release(it.value());
        if (registry) {
            g_signal_handlers_disconnect_by_data(registry, this);
            g_object_unref(registry);
        }
        g_object_unref(cancellable);
    }

    struct Client {
        ECalClient* client = nullptr;
        ECalClientView* view = nullptr;
        bool connecting = false;
        QList<std::function<void(ECalClient*)>> waiting;
    };
    struct Request {
        QStringList ids;
        QHash<QString, QList<StoreEvent>> answers;
        int pending = 0;
        std::function<void(QList<StoreEvent>)> done;
    };

    EdsCalendarStore* q;
    GCancellable* cancellable = g_cancellable_new();
    ESourceRegistry* registry = nullptr;
    bool connecting = false;
    QList<StoreCalendar> calendars;
    QHash<QString, QStringList> addresses; // the person's addresses, per calendar
    QHash<QString, Client> clients;
    QHash<quint64, Request> requests;
    quint64 nextRequest = 1;
    QTimer debounce;
    QThreadPool workers; // last member: destroyed first, once the cancelled calls have returned

    void connectRegistry() {
        if (registry || connecting) return;
        connecting = true;
        e_source_registry_new(cancellable, &Impl::registryReady, new QPointer<EdsCalendarStore>(q));
    }

    static void registryReady(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<QPointer<EdsCalendarStore>> guard(static_cast<QPointer<EdsCalendarStore>*>(data));
        GError* error = nullptr;
        ESourceRegistry* registry = e_source_registry_new_finish(result, &error);
        g_clear_error(&error);
        if (!*guard) {
            if (registry) g_object_unref(registry);
            return;
        }
        Impl* d = (*guard)->d.get();
        d->connecting = false;
        if (!registry) return; // no server: the store stays empty
        d->registry = registry;
        for (const char* signal :
             {"source-added", "source-removed", "source-changed", "source-enabled", "source-disabled"})
            g_signal_connect_swapped(registry, signal, G_CALLBACK(&Impl::sourcesChanged), d);
        d->readSources();
        emit d->q->changed();
    }

    static void sourcesChanged(Impl* d) {
        d->readSources();
        d->debounce.start();
    }

    // The registry's proxy keeps the sources in memory: reading them does not call the server.
    void readSources() {
        calendars.clear();
        addresses.clear();
        GList* identities = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_MAIL_IDENTITY);
        QStringList everyIdentity;
        for (GList* i = identities; i; i = i->next)
            if (const char* a = e_source_mail_identity_get_address(E_SOURCE_MAIL_IDENTITY(
                    e_source_get_extension(E_SOURCE(i->data), E_SOURCE_EXTENSION_MAIL_IDENTITY)));
                a && *a)
                everyIdentity.append(normalisedAddress(text(a)));

        GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
        for (GList* s = sources; s; s = s->next) {
            ESource* source = E_SOURCE(s->data);
            StoreCalendar c;
            c.id = text(e_source_get_uid(source));
            c.title = text(e_source_get_display_name(source));
            gchar* color = e_source_selectable_dup_color(
                E_SOURCE_SELECTABLE(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR)));
            if (color && QColor::isValidColorName(QLatin1StringView(color)))
                c.color = QColor::fromString(QLatin1StringView(color));
            g_free(color);

            QStringList own;
            if (e_source_has_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND))
                if (const char* a = e_source_webdav_get_email_address(
                        E_SOURCE_WEBDAV(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND)));
                    a && *a)
                    own.append(normalisedAddress(text(a)));
            QStringList account;
            const char* parentUid = e_source_get_parent(source);
            if (parentUid && *parentUid) {
                if (Owned<ESource> parent(e_source_registry_ref_source(registry, parentUid)); parent) {
                    c.source = text(e_source_get_display_name(parent.p));
                    account = accountAddresses(parent.p, identities);
                }
            }
            // A calendar kept on this computer has no account: every identity of the person counts.
            own += account.isEmpty() ? everyIdentity : account;
            own.removeDuplicates();
            addresses.insert(c.id, own);
            calendars.append(std::move(c));
        }
        listFree(sources);
        listFree(identities);

        for (auto it = clients.begin(); it != clients.end();) {
            if (!addresses.contains(it.key())) {
                release(it.value());
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }

    static QStringList accountAddresses(ESource* account, GList* identities) {
        QStringList out;
        if (e_source_has_extension(account, E_SOURCE_EXTENSION_COLLECTION)) {
            const QString who = text(e_source_collection_get_identity(
                E_SOURCE_COLLECTION(e_source_get_extension(account, E_SOURCE_EXTENSION_COLLECTION))));
            if (who.contains(u'@')) out.append(normalisedAddress(who));
        }
        const char* accountUid = e_source_get_uid(account);
        for (GList* i = identities; i; i = i->next) {
            ESource* identity = E_SOURCE(i->data);
            if (g_strcmp0(e_source_get_uid(identity), accountUid) != 0 &&
                g_strcmp0(e_source_get_parent(identity), accountUid) != 0)
                continue;
            if (const char* a = e_source_mail_identity_get_address(E_SOURCE_MAIL_IDENTITY(
                    e_source_get_extension(identity, E_SOURCE_EXTENSION_MAIL_IDENTITY)));
                a && *a)
                out.append(normalisedAddress(text(a)));
        }
        return out;
    }

    // Waiters learn of it from the event loop, so that no caller re-enters while `clients` changes.
    void release(Client& c) {
        for (auto& waiter : std::exchange(c.waiting, {}))
            QTimer::singleShot(0, q, [waiter = std::move(waiter)] { waiter(nullptr); });
        if (c.view) {
            g_signal_handlers_disconnect_by_data(c.view, this);
            g_object_unref(c.view);
            c.view = nullptr;
        }
        if (c.client) {
            g_signal_handlers_disconnect_by_data(c.client, this);
            g_object_unref(c.client);
            c.client = nullptr;
        }
    }

    // Runs `use` with the calendar's connected client, or with null when it cannot be had.
    void withClient(const QString& uid, std::function<void(ECalClient*)> use) {
        Client& c = clients[uid];
        if (c.client) {
            use(c.client);
            return;
        }
        c.waiting.append(std::move(use));
        if (c.connecting) return;
        Owned<ESource> source(e_source_registry_ref_source(registry, uid.toUtf8().constData()));
        if (!source) {
            Client gone = clients.take(uid);
            release(gone);
            return;
        }
        c.connecting = true;
        // -1: answer from the backend's cache at once rather than wait for it to go online.
        e_cal_client_connect(source.p, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), cancellable,
                             &Impl::clientReady, new std::pair<QPointer<EdsCalendarStore>, QString>(q, uid));
    }

    static void clientReady(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::pair<QPointer<EdsCalendarStore>, QString>> ctx(
            static_cast<std::pair<QPointer<EdsCalendarStore>, QString>*>(data));
        GError* error = nullptr;
        EClient* client = e_cal_client_connect_finish(result, &error);
        g_clear_error(&error);
        Impl* d = ctx->first ? ctx->first->d.get() : nullptr;
        auto it = d ? d->clients.find(ctx->second) : decltype(d->clients)::iterator();
        if (!d || it == d->clients.end() || !it->connecting) {
            if (client) g_object_unref(client);
            return;
        }
        if (!client) {
            Client gone = d->clients.take(ctx->second);
            d->release(gone);
            return;
        }
        it->connecting = false;
        it->client = E_CAL_CLIENT(client);
        e_cal_client_set_default_timezone(it->client, localZone());
        g_signal_connect_swapped(client, "backend-died", G_CALLBACK(&Impl::backendDied), d);
        e_cal_client_get_view(it->client, "#t", d->cancellable, &Impl::viewReady,
                              new std::pair<QPointer<EdsCalendarStore>, QString>(ctx->first, ctx->second));
        const auto waiting = std::exchange(it->waiting, {});
        ECalClient* ready = it->client;
        for (const auto& use : waiting)
            use(ready);
    }

    static void backendDied(Impl* d, EClient* client) {
        for (auto it = d->clients.begin(); it != d->clients.end(); ++it) {
            if (it->client != E_CAL_CLIENT(client)) continue;
            const QString& uid = it.key();
            // Released outside the library's signal emission; the next fetch connects again.
            QTimer::singleShot(0, d->q, [d, uid, client] {
                auto found = d->clients.find(uid);
                if (found == d->clients.end() || found->client != E_CAL_CLIENT(client)) return;
                Client gone = d->clients.take(uid);
                d->release(gone);
            });
            d->debounce.start();
            return;
        }
    }

    static void viewReady(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::pair<QPointer<EdsCalendarStore>, QString>> ctx(
            static_cast<std::pair<QPointer<EdsCalendarStore>, QString>*>(data));
        ECalClientView* view = nullptr;
        GError* error = nullptr;
        e_cal_client_get_view_finish(E_CAL_CLIENT(source), result, &view, &error);
        g_clear_error(&error);
        Impl* d = ctx->first ? ctx->first->d.get() : nullptr;
        auto it = d ? d->clients.find(ctx->second) : decltype(d->clients)::iterator();
        if (!view || !d || it == d->clients.end() || it->client != E_CAL_CLIENT(source) || it->view) {
            if (view) g_object_unref(view);
            return;
        }
        it->view = view;
        for (const char* signal : {"objects-added", "objects-modified", "objects-removed"})
            g_signal_connect_swapped(view, signal, G_CALLBACK(&Impl::viewChanged), d);
        // The library has no asynchronous form of these two; each is one short call to the
        // calendar's backend, made once per calendar. No initial listing: only changes matter.
        e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
        e_cal_client_view_start(view, nullptr);
    }

    static void viewChanged(Impl* d) { d->debounce.start(); }

    void fetch(quint64 id, const QString& uid, ECalClient* client, time_t from, time_t to) {
        g_object_ref(client);
        g_object_ref(cancellable);
        GCancellable* cancel = cancellable;
        workers.start([guard = QPointer<EdsCalendarStore>(q), id, uid, client, cancel, from, to,
                       mine = addresses.value(uid)] {
            QList<StoreEvent> events = expand(client, uid, mine, from, to, cancel);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, id, uid, client, cancel, events = std::move(events)]() mutable {
                    g_object_unref(client);
                    g_object_unref(cancel);
                    if (guard) guard->d->answered(id, uid, std::move(events));
                },
                Qt::QueuedConnection);
        });
    }

    void answered(quint64 id, const QString& uid, QList<StoreEvent> events) {
        auto it = requests.find(id);
        if (it == requests.end()) return;
        it->answers.emplace(uid, std::move(events));
        if (--it->pending <= 0) finish(id);
    }

    void finish(quint64 id) {
        auto it = requests.find(id);
        if (it == requests.end()) return;
        Request r = std::move(*it);
        requests.erase(it);
        QList<StoreEvent> all;
        for (const QString& uid : r.ids)
            all += r.answers.value(uid);
        r.done(std::move(all));
    }
};

EdsCalendarStore::EdsCalendarStore(Defaults& defaults, QObject* parent)
    : CalendarStore(parent), d(std::make_unique<Impl>(this)), m_defaults(defaults) {}

EdsCalendarStore::~EdsCalendarStore() = default;

bool EdsCalendarStore::serverAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QString registry = u"org.gnome.evolution.dataserver.Sources"_s;
    const auto has = [&](const QStringList& names) {
        return std::any_of(names.begin(), names.end(),
                           [&](const QString& n) { return n.startsWith(registry); });
    };
    return has(bus.interface()->registeredServiceNames().value()) ||
           has(bus.interface()->activatableServiceNames().value());
}

bool EdsCalendarStore::openOnlineAccounts() {
    const QString settings = QStandardPaths::findExecutable(u"gnome-control-center"_s);
    return !settings.isEmpty() && QProcess::startDetached(settings, {u"online-accounts"_s});
}

CalendarAccess EdsCalendarStore::authorizationStatus() const {
    return calendarAccessFromNumber(m_defaults.integer(kAccessKey));
}

void EdsCalendarStore::requestAccess(std::function<void(bool)> done) {
    m_defaults.setValue(kAccessKey, 3);
    done(true);
}

bool EdsCalendarStore::isConnected() const {
    return d->registry != nullptr;
}

bool EdsCalendarStore::isWatching() const {
    if (!d->registry || d->clients.empty()) return false;
    for (const auto& c : d->clients)
        if (!c.view) return false;
    return true;
}

QList<StoreCalendar> EdsCalendarStore::calendars() const {
    d->connectRegistry();
    return d->calendars;
}

void EdsCalendarStore::events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                              std::function<void(QList<StoreEvent>)> done) {
    if (!d->registry) {
        d->connectRegistry();
        done({});
        return;
    }
    QStringList wanted;
    for (const QString& id : calendarIds)
        if (d->addresses.contains(id) && !wanted.contains(id)) wanted.append(id);
    // Calendars no longer asked for (muted ones) are no longer watched.
    for (auto it = d->clients.begin(); it != d->clients.end();) {
        if (!wanted.contains(it.key())) {
            d->release(it.value());
            it = d->clients.erase(it);
        } else {
            ++it;
        }
    }
    if (wanted.isEmpty()) {
        done({});
        return;
    }
    const quint64 id = d->nextRequest++;
    d->requests.insert(id, Impl::Request{wanted, {}, int(wanted.size()), std::move(done)});
    QTimer::singleShot(answerTimeoutMs(), this, [this, id] { d->finish(id); });
    const time_t start = from.toSecsSinceEpoch(), end = to.toSecsSinceEpoch();
    for (const QString& uid : wanted) {
        d->withClient(uid, [this, id, uid, start, end](ECalClient* client) {
            if (client)
                d->fetch(id, uid, client, start, end);
            else
                d->answered(id, uid, {});
        });
    }
}

void EdsCalendarStore::openSettings() {
    openOnlineAccounts();
}
