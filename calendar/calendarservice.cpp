// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/calendarservice.h"

#include "calendar/joinlinks.h"
#include "engine/loc.h"
#include "platform/clock.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QUuid>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

// ---------------------------------------------------------------------------------------------
// Colours

std::optional<QString> colorText(const QColor& color) {
    if (!color.isValid()) return std::nullopt;
    const QColor rgb = color.toRgb();
    if (!rgb.isValid()) return std::nullopt;
    auto channel = [](float f) { return std::clamp(static_cast<int>(std::lround(f * 255.0f)), 0, 255); };
    return QString::asprintf("#%02X%02X%02X", channel(rgb.redF()), channel(rgb.greenF()),
                             channel(rgb.blueF()));
}

// ---------------------------------------------------------------------------------------------
// Texts

namespace {
// Fixed English forms whatever the interface language: "9:05 AM", "9:05am", "Tue".
const QLocale& posixLocale() {
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}
QString timeText(const QDateTime& t) {
    return posixLocale().toString(t.time(), u"h:mm AP"_s);
}
QString compactTimeText(const QDateTime& t) {
    return posixLocale().toString(t.time(), u"h:mmap"_s);
}
QString weekdayText(const QDateTime& t) {
    return posixLocale().toString(t.date(), u"ddd"_s);
}

// The start seen in the zone of `now`, so "today" and the clock time are the user's.
QDateTime startSeenFrom(const QDateTime& start, const QDateTime& now) {
    return start.toTimeZone(now.timeZone());
}
qint64 msUntil(const QDateTime& start, const QDateTime& now) {
    return now.msecsTo(start);
}
// Minutes until the start, rounded up.
qint64 minutesUntil(qint64 ms) {
    return static_cast<qint64>(std::ceil(static_cast<double>(ms) / 60000.0));
}
} // namespace

QString UpcomingEvent::relativeText(const QDateTime& now) const {
    if (start <= now && end > now) return pick(u"in progress"_s, u"en cours"_s);
    const qint64 ms = msUntil(start, now);
    if (ms <= 30000) return pick(u"now"_s, u"là"_s);
    const qint64 m = minutesUntil(ms);
    if (m < 60) return pick(u"in "_s, u"dans "_s) + QString::number(m) + u" min"_s;
    const QDateTime local = startSeenFrom(start, now);
    const QString time = timeText(local);
    const QDate today = now.date();
    if (local.date() == today) return pick(u"at "_s, u"à "_s) + time;
    if (local.date() == today.addDays(1)) return pick(u"tomorrow at "_s, u"demain à "_s) + time;
    return weekdayText(local) + pick(u" at "_s, u" à "_s) + time;
}

QString UpcomingEvent::shortRelative(const QDateTime& now) const {
    const qint64 ms = msUntil(start, now);
    if (ms <= 30000) return pick(u"now"_s, u"là"_s);
    const qint64 m = minutesUntil(ms);
    if (m <= 59) return pick(u"in "_s, u"dans "_s) + QString::number(m) + u"m"_s;
    const QDateTime local = startSeenFrom(start, now);
    QString time = compactTimeText(local);
    const QDate today = now.date();
    if (local.date() == today) return time;
    if (local.date() == today.addDays(1)) return pick(u"tmw "_s, u"dem "_s) + time;
    return weekdayText(local) + u' ' + time;
}

QString UpcomingEvent::statusLabel(bool withTitle, int maxTitle, const QDateTime& now) const {
    const bool inProgress = start <= now && end > now;
    QString relative = inProgress ? pick(u"now"_s, u"là"_s) : shortRelative(now);
    if (!withTitle) return relative;
    // Cut by characters, never inside a surrogate pair.
    const QList<uint> chars = title.toUcs4();
    QString shown = title;
    if (chars.size() > maxTitle) {
        const qsizetype keep = std::max(maxTitle - 1, 1);
        shown = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), keep) + u"…"_s;
    }
    return shown + u" · "_s + relative;
}

QString UpcomingEvent::warnKey() const {
    return id + u'|' + QString::number(start.toSecsSinceEpoch());
}

// ---------------------------------------------------------------------------------------------
// The service

CalendarService::CalendarService(CalendarStore& store, Clock& clock, QObject* parent)
    : QObject(parent), m_store(store), m_clock(clock), m_status(store.authorizationStatus()) {
    // The timer belongs to the service and dies with it: it can never call into a service gone.
    m_timer.setInterval(30 * 1000);
    connect(&m_timer, &QTimer::timeout, this, &CalendarService::refreshEvents);
}

CalendarService::~CalendarService() = default;

QVariant CalendarService::currentEventValue() const {
    return m_current ? QVariant::fromValue(*m_current) : QVariant();
}

QVariant CalendarService::nextEventValue() const {
    return m_next ? QVariant::fromValue(*m_next) : QVariant();
}

QVariantList CalendarService::calendarList() const {
    QVariantList out;
    for (const CalendarInfo& c : allCalendars())
        out.append(QVariant::fromValue(c));
    return out;
}

void CalendarService::configure(bool enabled, const QSet<QString>& muted) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        emit enabledChanged();
    }
    m_muted = muted;
    if (enabled && m_status == CalendarAccess::fullAccess)
        activate();
    else if (!enabled)
        refreshEvents(); // publishes none, and drops an answer still on its way
}

void CalendarService::activate() {
    setStatus(m_store.authorizationStatus());
    if (!m_enabled || m_status != CalendarAccess::fullAccess) return;
    if (!m_observing) {
        m_observing = true;
        connect(&m_store, &CalendarStore::changed, this, &CalendarService::storeChanged);
        m_timer.start();
    }
    refreshEvents();
}

void CalendarService::storeChanged() {
    emit calendarsChanged();
    refreshEvents();
}

void CalendarService::refreshEvents() {
    // A newer refresh always wins over the answer of an older one still on its way.
    const quint64 generation = ++m_generation;
    if (!m_enabled || m_status != CalendarAccess::fullAccess) {
        publish(std::nullopt, std::nullopt);
        return;
    }
    const QDateTime now = m_clock.now();

    QHash<QString, StoreCalendar> watched;
    QStringList ids;
    for (const StoreCalendar& c : m_store.calendars()) {
        if (m_muted.contains(c.id) || watched.contains(c.id)) continue;
        watched.insert(c.id, c);
        ids.append(c.id);
    }
    if (ids.isEmpty()) {
        publish(std::nullopt, std::nullopt);
        return;
    }

    const QDateTime from = now.addSecs(-3600);
    QDateTime to = now.toTimeZone(m_clock.timeZone()).addDays(14);
    if (!to.isValid()) to = now.addSecs(1209600);

    QPointer<CalendarService> self(this);
    m_store.events(ids, from, to, [self, generation, now, watched](const QList<StoreEvent>& events) {
        if (!self || generation != self->m_generation) return;
        // The earliest started event and the earliest one to come, in one pass; of events that
        // start together, the first listed.
        const StoreEvent* current = nullptr;
        const StoreEvent* next = nullptr;
        for (const StoreEvent& e : events) {
            if (e.allDay || e.cancelled || !(e.end > now)) continue;
            if (e.participation == Participation::declined) continue;
            const StoreEvent*& slot = e.start <= now ? current : next;
            if (!slot || e.start < slot->start) slot = &e;
        }
        auto convert = [&watched, &self](const StoreEvent* e) -> std::optional<UpcomingEvent> {
            if (!e) return std::nullopt;
            const StoreCalendar cal = watched.value(e->calendarId);
            UpcomingEvent u;
            u.id = e->id;
            u.title = e->title.isEmpty() ? pick(u"Untitled"_s, u"Sans titre"_s) : e->title;
            u.start = e->start;
            u.end = e->end;
            u.calendarTitle = cal.title;
            u.calendarColorHex = colorText(cal.color);
            u.joinURL = detectJoinURL(e->url, e->location, e->notes);
            if (!e->location.isEmpty()) u.location = e->location;
            if (u.id.isEmpty()) u.id = self->identifierFor(u);
            return u;
        };
        self->publish(convert(current), convert(next));
    });
}

QString CalendarService::identifierFor(const UpcomingEvent& withoutId) const {
    // An event the store gives no identifier gets a fresh one, except that the meeting already
    // shown keeps its own: otherwise every refresh would replace it, and warn about it again.
    for (const auto* shown : {&m_current, &m_next}) {
        if (!*shown || !m_generatedIds.contains((*shown)->id)) continue;
        UpcomingEvent same = withoutId;
        same.id = (*shown)->id;
        if (same == **shown) return same.id;
    }
    QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (m_generatedIds.size() > 64) { // only those still shown can be asked for again
        QSet<QString> kept;
        for (const auto* shown : {&m_current, &m_next})
            if (*shown && m_generatedIds.contains((*shown)->id)) kept.insert((*shown)->id);
        m_generatedIds = kept;
    }
    m_generatedIds.insert(id);
    return id;
}

void CalendarService::requestAccess() {
    QPointer<CalendarService> self(this);
    m_store.requestAccess([self](bool granted) {
        if (!self) return;
        // The store may answer at once; the answer is handled on a later turn, as a system's would be.
        QMetaObject::invokeMethod(
            self.data(),
            [self, granted] {
                if (!self) return;
                self->setStatus(self->m_store.authorizationStatus());
                if (granted) self->activate();
                if (self->onChange) self->onChange();
                emit self->calendarsChanged();
            },
            Qt::QueuedConnection);
    });
}

QList<CalendarInfo> CalendarService::allCalendars() const {
    if (m_status != CalendarAccess::fullAccess) return {};
    QList<CalendarInfo> out;
    for (const StoreCalendar& c : m_store.calendars())
        out.append(CalendarInfo{c.id, c.title, colorText(c.color), c.source, c.skipped});
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(out.begin(), out.end(), [&collator](const CalendarInfo& a, const CalendarInfo& b) {
        if (const int bySource = collator.compare(a.source, b.source)) return bySource < 0;
        return collator.compare(a.title, b.title) < 0;
    });
    return out;
}

void CalendarService::openPrivacySettings() {
    m_store.openSettings();
}

void CalendarService::publish(std::optional<UpcomingEvent> current, std::optional<UpcomingEvent> next) {
    if (m_current != current) {
        m_current = std::move(current);
        emit currentEventChanged();
    }
    if (m_next != next) {
        m_next = std::move(next);
        emit nextEventChanged();
    }
    if (onChange) onChange();
}

void CalendarService::setStatus(CalendarAccess status) {
    if (m_status == status) return;
    m_status = status;
    emit statusChanged();
    emit calendarsChanged();
    // Meetings read while access was granted are not shown once it is gone.
    if (m_status != CalendarAccess::fullAccess && (m_current || m_next)) refreshEvents();
}
