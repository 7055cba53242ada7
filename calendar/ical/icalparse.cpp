// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/ical/icalparse.h"

#include <QDateTime>
#include <QHash>

#include <libical/ical.h>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {
// A series expanded this far is cut short: a hostile rule (every second, a count in the millions)
// must not hold the application.
constexpr int kMaxSteps = 50000;
constexpr int kMaxOccurrences = 1000;
constexpr qint64 kDayMs = 86400LL * 1000;
// An expansion covers this much past the window asked for, so a window that moves by half a minute
// reuses it.
constexpr qint64 kCacheAheadMs = 2 * kDayMs;

// libical reports errors by default by aborting in some builds; a broken file must never do that.
void quietLibical() {
    static const bool once = [] {
        icalerror_set_errors_are_fatal(0);
        return true;
    }();
    (void)once;
}

// The zone a time is written in.
struct Zone {
    enum Kind { floating, utc, vtimezone, system } kind = floating;
    icaltimezone* ical = nullptr;         // a VTIMEZONE of the file
    std::shared_ptr<icaltimezone> holder; // keeps `ical` alive
    QTimeZone qt;                         // the system's zone, or the local zone when floating
};

QDate dateOf(const icaltimetype& t) {
    return QDate(t.year, t.month, t.day);
}
QTime timeOf(const icaltimetype& t) {
    return QTime(std::clamp(t.hour, 0, 23), std::clamp(t.minute, 0, 59), std::clamp(t.second, 0, 59));
}

// The instant of a wall time in a zone; nothing when the time cannot be placed.
std::optional<qint64> instantOf(const icaltimetype& t, const Zone& z, const QTimeZone& local) {
    if (icaltime_is_null_time(t) || !dateOf(t).isValid()) return std::nullopt;
    if (t.is_date) return QDateTime(dateOf(t), QTime(0, 0), local).toMSecsSinceEpoch();
    switch (z.kind) {
    case Zone::vtimezone: {
        icaltimetype w = t;
        w.zone = nullptr;
        return static_cast<qint64>(icaltime_as_timet_with_zone(w, z.ical)) * 1000;
    }
    case Zone::utc:
        return QDateTime(dateOf(t), timeOf(t), QTimeZone::utc()).toMSecsSinceEpoch();
    case Zone::system:
        return QDateTime(dateOf(t), timeOf(t), z.qt).toMSecsSinceEpoch();
    case Zone::floating:
        break;
    }
    return QDateTime(dateOf(t), timeOf(t), local).toMSecsSinceEpoch();
}

// The wall time of an instant in a zone, without a zone of its own.
icaltimetype wallOf(qint64 ms, const Zone& z, const QTimeZone& local) {
    if (z.kind == Zone::vtimezone) {
        icaltimetype w = icaltime_from_timet_with_zone(static_cast<time_t>(ms / 1000), 0, z.ical);
        w.zone = nullptr;
        return w;
    }
    const QTimeZone& tz = z.kind == Zone::utc ? QTimeZone::utc() : z.kind == Zone::system ? z.qt : local;
    const QDateTime d = QDateTime::fromMSecsSinceEpoch(ms, tz);
    icaltimetype w = icaltime_null_time();
    w.year = d.date().year();
    w.month = d.date().month();
    w.day = d.date().day();
    w.hour = d.time().hour();
    w.minute = d.time().minute();
    w.second = d.time().second();
    return w;
}

QString text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

// The zones of one VCALENDAR, looked up once per TZID.
class ZoneBook {
public:
    ZoneBook(icalcomponent* vcal, const QTimeZone& local) : m_vcal(vcal), m_local(local) {}

    Zone zoneOf(icalproperty* prop, const icaltimetype& t) {
        if (icaltime_is_utc(t)) return Zone{Zone::utc, nullptr, nullptr, QTimeZone::utc()};
        icalparameter* p = icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER);
        const char* tzid = p ? icalparameter_get_tzid(p) : nullptr;
        if (!tzid || !*tzid) return Zone{Zone::floating, nullptr, nullptr, m_local};
        const QString id = QString::fromUtf8(tzid);
        auto it = m_zones.constFind(id);
        if (it == m_zones.constEnd()) it = m_zones.insert(id, resolve(tzid, id));
        return *it;
    }
    const QTimeZone& local() const { return m_local; }

private:
    Zone resolve(const char* tzid, const QString& id) {
        if (m_vcal) {
            if (icaltimezone* inFile = icalcomponent_get_timezone(m_vcal, tzid)) {
                // A copy of its own, so that series can be expanded after the file is let go.
                if (icalcomponent* c = icaltimezone_get_component(inFile)) {
                    icaltimezone* own = icaltimezone_new();
                    if (own && icaltimezone_set_component(own, icalcomponent_new_clone(c))) {
                        std::shared_ptr<icaltimezone> holder(
                            own, [](icaltimezone* z) { icaltimezone_free(z, 1); });
                        return Zone{Zone::vtimezone, own, holder, {}};
                    }
                    if (own) icaltimezone_free(own, 1);
                }
            }
        }
        // The system's database: the name itself, a name behind a vendor prefix
        // ("/example.org/20050126_1/Europe/Paris"), or a Windows zone name.
        QStringList names{id};
        for (qsizetype i = id.indexOf(u'/'); i >= 0; i = id.indexOf(u'/', i + 1))
            if (i + 1 < id.size()) names << id.mid(i + 1);
        for (const QString& name : names) {
            const QByteArray iana = name.toUtf8();
            if (QTimeZone::isTimeZoneIdAvailable(iana))
                return Zone{Zone::system, nullptr, nullptr, QTimeZone(iana)};
        }
        const QByteArray windows = QTimeZone::windowsIdToDefaultIanaId(id.toUtf8());
        if (!windows.isEmpty()) return Zone{Zone::system, nullptr, nullptr, QTimeZone(windows)};
        return Zone{Zone::floating, nullptr, nullptr, m_local};
    }

    icalcomponent* m_vcal;
    QTimeZone m_local;
    QHash<QString, Zone> m_zones;
};

// "PARTSTAT=IN-PROCESS": the value as written (the library's own names drop the hyphen), read as
// every store reads it.
Participation participationFrom(icalparameter* status) {
    const char* text = icalparameter_as_ical_string(status);
    const QByteArray whole(text ? text : "");
    return participationFromPartstat(whole.mid(whole.indexOf('=') + 1));
}

QString addressOf(const char* value) {
    QString a = text(value).trimmed();
    if (a.startsWith(u"mailto:"_s, Qt::CaseInsensitive)) a = a.mid(7);
    return a.toLower();
}
} // namespace

// ---------------------------------------------------------------------------------------------

struct IcalRecurrence {
    icaltimetype dtstart{}; // wall time, no zone
    Zone zone;
    qint64 durationMs = 0;
    bool hasRule = false;
    icalrecurrencetype rule{}; // UNTIL already in dtstart's wall time
    struct Extra {
        icaltimetype start{};
        Zone zone;
        qint64 endMs = -1; // a PERIOD's own end
    };
    std::vector<Extra> rdates;
    QSet<qint64> exdates;    // instants
    QSet<QDate> exdateDays;  // dates, against the occurrence's own date
    QSet<qint64> overridden; // occurrences replaced by an event of their own
    QTimeZone local;

    struct Occurrence {
        qint64 start, end;
    };
    mutable qint64 cacheFrom = 0, cacheTo = -1;
    mutable std::vector<Occurrence> cache;

    void expand(qint64 fromMs, qint64 toMs, std::vector<Occurrence>& out) const;
    void occurrences(qint64 fromMs, qint64 toMs, std::vector<Occurrence>& out) const {
        if (!(fromMs >= cacheFrom && toMs <= cacheTo)) {
            cache.clear();
            cacheFrom = fromMs;
            cacheTo = toMs > INT64_MAX - kCacheAheadMs ? INT64_MAX : toMs + kCacheAheadMs;
            expand(cacheFrom, cacheTo, cache);
        }
        for (const Occurrence& o : cache)
            if (o.end > fromMs && o.start < toMs) out.push_back(o);
    }
};

void IcalRecurrence::expand(qint64 fromMs, qint64 toMs, std::vector<Occurrence>& out) const {
    QSet<qint64> seen;
    auto offer = [&](qint64 start, qint64 end, const QDate& day) {
        if (end < start) end = start;
        const bool overlaps = end > fromMs && start < toMs;
        const bool zeroLengthInside = end == start && start >= fromMs && start < toMs;
        if (!overlaps && !zeroLengthInside) return;
        if (exdates.contains(start) || exdateDays.contains(day) || overridden.contains(start)) return;
        if (seen.contains(start) || static_cast<int>(out.size()) >= kMaxOccurrences) return;
        seen.insert(start);
        out.push_back({start, end});
    };

    if (const auto first = instantOf(dtstart, zone, local))
        offer(*first, *first + durationMs, dateOf(dtstart));

    if (hasRule) {
        if (icalrecur_iterator* it = icalrecur_iterator_new(rule, dtstart)) {
            // Skip ahead to shortly before the window when the rule allows it.
            const qint64 lead = durationMs + kDayMs;
            const auto firstMs = instantOf(dtstart, zone, local);
            if (rule.count == 0 && firstMs && fromMs - lead > *firstMs) {
                icaltimetype skipTo = wallOf(fromMs - lead, zone, local);
                skipTo.is_date = dtstart.is_date;
                if (!icalrecur_iterator_set_start(it, skipTo)) {
                    icalrecur_iterator_free(it);
                    it = icalrecur_iterator_new(rule, dtstart);
                }
            }
            // Wall times well outside the window are passed over without placing them in the zone.
            icaltimetype low = wallOf(fromMs - lead - kDayMs, zone, local);
            icaltimetype high = wallOf(toMs > INT64_MAX - kDayMs ? toMs : toMs + kDayMs, zone, local);
            low.is_date = high.is_date = dtstart.is_date;
            for (int step = 0; it && step < kMaxSteps; ++step) {
                const icaltimetype occ = icalrecur_iterator_next(it);
                if (icaltime_is_null_time(occ)) break;
                if (icaltime_compare(occ, low) < 0) continue;
                if (icaltime_compare(occ, high) > 0) break;
                const auto start = instantOf(occ, zone, local);
                if (!start) continue;
                if (*start >= toMs || static_cast<int>(out.size()) >= kMaxOccurrences) break;
                offer(*start, *start + durationMs, dateOf(occ));
            }
            if (it) icalrecur_iterator_free(it);
            icalerror_clear_errno();
        }
    }
    for (const Extra& r : rdates) {
        const auto start = instantOf(r.start, r.zone, local);
        if (start) offer(*start, r.endMs >= 0 ? r.endMs : *start + durationMs, dateOf(r.start));
    }
    std::sort(out.begin(), out.end(),
              [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
}

IcalEvent::IcalEvent() = default;
IcalEvent::~IcalEvent() = default;
IcalEvent::IcalEvent(IcalEvent&&) noexcept = default;
IcalEvent& IcalEvent::operator=(IcalEvent&&) noexcept = default;

Participation IcalEvent::participationOf(const QStringList& owners) const {
    for (const IcalAttendee& a : attendees)
        if (owners.contains(a.address)) return a.participation;
    return Participation::none;
}

void IcalEvent::occurrences(qint64 fromMs, qint64 toMs,
                            const std::function<void(qint64, qint64)>& out) const {
    if (recurrence) {
        std::vector<IcalRecurrence::Occurrence> found;
        recurrence->occurrences(fromMs, toMs, found);
        for (const auto& o : found)
            out(o.start, o.end);
    } else if ((endMs > fromMs && startMs < toMs) ||
               (endMs == startMs && startMs >= fromMs && startMs < toMs)) {
        out(startMs, endMs);
    }
}

void IcalFile::occurrences(qint64 fromMs, qint64 toMs,
                           const std::function<void(const IcalEvent&, qint64, qint64)>& out) const {
    for (const IcalEvent& e : events)
        e.occurrences(fromMs, toMs, [&](qint64 s, qint64 end) { out(e, s, end); });
}

// ---------------------------------------------------------------------------------------------

namespace {
struct Reader {
    ZoneBook zones;
    IcalFile& file;

    // An event, or nothing when it has no start that can be placed.
    std::optional<IcalEvent> readEvent(icalcomponent* c, std::optional<qint64>* recurrenceId) {
        icalproperty* dtstartProp = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
        if (!dtstartProp) return std::nullopt;
        icaltimetype dtstart = icalproperty_get_dtstart(dtstartProp);
        const Zone zone = zones.zoneOf(dtstartProp, dtstart);
        const auto startMs = instantOf(dtstart, zone, zones.local());
        if (!startMs) return std::nullopt;

        IcalEvent e;
        e.allDay = dtstart.is_date;
        e.startMs = *startMs;
        std::optional<qint64> endMs;
        if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_DTEND_PROPERTY)) {
            const icaltimetype t = icalproperty_get_dtend(p);
            endMs = instantOf(t, zones.zoneOf(p, t), zones.local());
        } else if (icalproperty* d = icalcomponent_get_first_property(c, ICAL_DURATION_PROPERTY)) {
            endMs =
                *startMs + static_cast<qint64>(icaldurationtype_as_int(icalproperty_get_duration(d))) * 1000;
        }
        if (!endMs) endMs = e.allDay ? *startMs + kDayMs : *startMs;
        e.endMs = std::max(*endMs, *startMs);

        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_ANY_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
            switch (icalproperty_isa(p)) {
            case ICAL_UID_PROPERTY:
                e.uid = text(icalproperty_get_uid(p));
                break;
            case ICAL_SUMMARY_PROPERTY:
                e.title = text(icalproperty_get_summary(p));
                break;
            case ICAL_LOCATION_PROPERTY:
                e.location = text(icalproperty_get_location(p));
                break;
            case ICAL_DESCRIPTION_PROPERTY:
                e.notes = text(icalproperty_get_description(p));
                break;
            case ICAL_URL_PROPERTY:
                e.url = QUrl(text(icalproperty_get_url(p)).trimmed());
                break;
            case ICAL_STATUS_PROPERTY:
                e.cancelled = icalproperty_get_status(p) == ICAL_STATUS_CANCELLED;
                break;
            case ICAL_ATTENDEE_PROPERTY: {
                IcalAttendee a;
                a.address = addressOf(icalproperty_get_attendee(p));
                if (icalparameter* s = icalproperty_get_first_parameter(p, ICAL_PARTSTAT_PARAMETER))
                    a.participation = participationFrom(s);
                if (!a.address.isEmpty()) e.attendees.append(a);
                break;
            }
            case ICAL_RECURRENCEID_PROPERTY:
                if (recurrenceId) {
                    const icaltimetype t = icalproperty_get_recurrenceid(p);
                    *recurrenceId = instantOf(t, zones.zoneOf(p, t), zones.local());
                }
                break;
            default:
                break;
            }
        }

        // Repetition: a rule, extra dates, excluded dates.
        auto rec = std::make_shared<IcalRecurrence>();
        rec->dtstart = dtstart;
        rec->dtstart.zone = nullptr;
        rec->zone = zone;
        rec->durationMs = e.endMs - e.startMs;
        rec->local = zones.local();
        bool repeats = false;
        if (!(recurrenceId && *recurrenceId)) {
            if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY)) {
                icalrecurrencetype r = icalproperty_get_rrule(p);
                r.rscale = nullptr; // only the Gregorian calendar
                if (r.freq != ICAL_NO_RECURRENCE) {
                    if (!icaltime_is_null_time(r.until) && icaltime_is_utc(r.until) && !r.until.is_date) {
                        const auto untilMs = instantOf(
                            r.until, Zone{Zone::utc, nullptr, nullptr, QTimeZone::utc()}, zones.local());
                        if (untilMs) r.until = wallOf(*untilMs, zone, zones.local());
                    }
                    r.until.zone = nullptr;
                    if (dtstart.is_date && !icaltime_is_null_time(r.until)) r.until.is_date = 1;
                    rec->rule = r;
                    rec->hasRule = repeats = true;
                }
            }
            for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
                 p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
                const icaldatetimeperiodtype v = icalproperty_get_rdate(p);
                IcalRecurrence::Extra x;
                if (!icaltime_is_null_time(v.time)) {
                    x.start = v.time;
                    x.zone = zones.zoneOf(p, v.time);
                } else if (!icaltime_is_null_time(v.period.start)) {
                    x.start = v.period.start;
                    x.zone = zones.zoneOf(p, v.period.start);
                    if (!icaltime_is_null_time(v.period.end)) {
                        if (auto end = instantOf(v.period.end, x.zone, zones.local())) x.endMs = *end;
                    } else if (auto s = instantOf(x.start, x.zone, zones.local())) {
                        x.endMs = *s + static_cast<qint64>(icaldurationtype_as_int(v.period.duration)) * 1000;
                    }
                } else {
                    continue;
                }
                rec->rdates.push_back(std::move(x));
                repeats = true;
            }
            for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
                 p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
                const icaltimetype t = icalproperty_get_exdate(p);
                if (icaltime_is_null_time(t)) continue;
                if (t.is_date)
                    rec->exdateDays.insert(dateOf(t));
                else if (auto ms = instantOf(t, zones.zoneOf(p, t), zones.local()))
                    rec->exdates.insert(*ms);
            }
        }
        if (repeats) e.recurrence = std::move(rec);
        return e;
    }

    void readCalendar(icalcomponent* vcal) {
        for (icalproperty* p = icalcomponent_get_first_property(vcal, ICAL_ANY_PROPERTY); p;
             p = icalcomponent_get_next_property(vcal, ICAL_ANY_PROPERTY)) {
            const icalproperty_kind kind = icalproperty_isa(p);
            if (kind == ICAL_COLOR_PROPERTY && !file.color.isValid()) {
                file.color = QColor(text(icalproperty_get_color(p)).trimmed());
            } else if (kind == ICAL_X_PROPERTY) {
                const QString name = text(icalproperty_get_x_name(p));
                const QString value = text(icalproperty_get_x(p)).trimmed();
                if (name.compare(u"X-WR-CALNAME"_s, Qt::CaseInsensitive) == 0 && file.calendarName.isEmpty())
                    file.calendarName = value;
                else if (name.compare(u"X-APPLE-CALENDAR-COLOR"_s, Qt::CaseInsensitive) == 0)
                    file.color = QColor(value.left(7));
            }
        }

        // Masters and single events first; overridden occurrences are matched to their series.
        struct Override {
            IcalEvent event;
            qint64 recurrenceId;
        };
        std::vector<Override> overrides;
        std::vector<icalcomponent*> vevents;
        for (icalcomponent* c = icalcomponent_get_first_component(vcal, ICAL_VEVENT_COMPONENT); c;
             c = icalcomponent_get_next_component(vcal, ICAL_VEVENT_COMPONENT))
            vevents.push_back(c);
        for (icalcomponent* c : vevents) {
            std::optional<qint64> recurrenceId;
            std::optional<IcalEvent> e = readEvent(c, &recurrenceId);
            if (!e) continue;
            if (recurrenceId && !e->uid.isEmpty())
                overrides.push_back({std::move(*e), *recurrenceId});
            else
                file.events.push_back(std::move(*e));
        }
        QHash<QString, IcalRecurrence*> series;
        for (const IcalEvent& e : file.events)
            if (e.recurrence && !e.uid.isEmpty()) series.insert(e.uid, e.recurrence.get());
        for (Override& o : overrides) {
            if (IcalRecurrence* r = series.value(o.event.uid)) r->overridden.insert(o.recurrenceId);
            file.events.push_back(std::move(o.event)); // also when its series is not in this file
        }
    }
};
} // namespace

IcalFile parseIcal(const QByteArray& text, const QTimeZone& local) {
    quietLibical();
    IcalFile file;
    if (text.isEmpty()) return file;
    icalcomponent* root = icalparser_parse_string(text.constData());
    icalerror_clear_errno();
    if (!root) return file;
    auto read = [&](icalcomponent* vcal) {
        Reader r{ZoneBook(vcal, local), file};
        r.readCalendar(vcal);
    };
    switch (icalcomponent_isa(root)) {
    case ICAL_VCALENDAR_COMPONENT:
        read(root);
        break;
    case ICAL_XROOT_COMPONENT:
        for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
             c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
            read(c);
        break;
    case ICAL_VEVENT_COMPONENT: {
        // A bare event: read it as a calendar of one.
        icalcomponent* vcal = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
        icalcomponent_add_component(vcal, root);
        root = vcal;
        read(vcal);
        break;
    }
    default:
        break;
    }
    icalcomponent_free(root);
    icalerror_clear_errno();
    return file;
}
