#include "calendar/calendarservice.h"

#include "platform/clock.h"

// A first cut: the published state, configuration and access. Fetching comes next.

std::optional<QString> colorText(const QColor&) { return std::nullopt; }

std::optional<QUrl> detectJoinURL(const QUrl&, const QString&, const QString&) { return std::nullopt; }

QString UpcomingEvent::relativeText(const QDateTime&) const { return {}; }
QString UpcomingEvent::shortRelative(const QDateTime&) const { return {}; }
QString UpcomingEvent::statusLabel(bool, int, const QDateTime&) const { return {}; }
QString UpcomingEvent::warnKey() const { return id + u'|' + QString::number(start.toSecsSinceEpoch()); }

CalendarService::CalendarService(CalendarStore& store, Clock& clock, QObject* parent)
    : QObject(parent), m_store(store), m_clock(clock), m_status(store.authorizationStatus()) {}

CalendarService::~CalendarService() = default;

QVariant CalendarService::currentEventValue() const {
    return m_current ? QVariant::fromValue(*m_current) : QVariant();
}

QVariant CalendarService::nextEventValue() const {
    return m_next ? QVariant::fromValue(*m_next) : QVariant();
}

void CalendarService::configure(bool enabled, const QSet<QString>& muted) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        emit enabledChanged();
    }
    m_muted = muted;
    if (!enabled) publish(std::nullopt, std::nullopt);
}

void CalendarService::activate() { setStatus(m_store.authorizationStatus()); }

void CalendarService::refreshEvents() { publish(std::nullopt, std::nullopt); }

void CalendarService::requestAccess() {
    QPointer<CalendarService> self(this);
    m_store.requestAccess([self](bool granted) {
        if (!self) return;
        self->setStatus(self->m_store.authorizationStatus());
        if (granted) self->activate();
        if (self->onChange) self->onChange();
    });
}

QList<CalendarInfo> CalendarService::allCalendars() const { return {}; }

void CalendarService::openPrivacySettings() { m_store.openSettings(); }

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

void CalendarService::setStatus(int status) {
    if (m_status == status) return;
    m_status = status;
    emit statusChanged();
    emit calendarsChanged();
}
