// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/ical/calendarwire.h"

#include <QJsonDocument>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace CalendarWire {

QJsonObject fileJson(const IcalCalendarStore::FileMark& f) {
    return {{u"path"_s, f.path}, {u"size"_s, double(f.size)}, {u"mtime"_s, QString::number(f.mtimeNs)}};
}

IcalCalendarStore::FileMark fileFrom(const QJsonObject& o) {
    return {o.value(u"path"_s).toString(), qint64(o.value(u"size"_s).toDouble()),
            o.value(u"mtime"_s).toString().toLongLong()};
}

QJsonObject rootJson(const CalendarRoot& r) {
    return {{u"path"_s, r.path}, {u"key"_s, r.key}, {u"source"_s, r.source}, {u"evolution"_s, r.evolution}};
}

CalendarRoot rootFrom(const QJsonObject& o) {
    return {o.value(u"path"_s).toString(), o.value(u"key"_s).toString(), o.value(u"source"_s).toString(),
            o.value(u"evolution"_s).toBool()};
}

QJsonObject calendarJson(const StoreCalendar& c) {
    QJsonObject o{{u"id"_s, c.id},
                  {u"title"_s, c.title},
                  {u"source"_s, c.source},
                  {u"skipped"_s, QJsonArray::fromStringList(c.skipped)}};
    if (c.color.isValid()) o.insert(u"color"_s, c.color.name(QColor::HexArgb));
    return o;
}

StoreCalendar calendarFrom(const QJsonObject& o) {
    StoreCalendar c;
    c.id = o.value(u"id"_s).toString();
    c.title = o.value(u"title"_s).toString();
    c.source = o.value(u"source"_s).toString();
    if (o.contains(u"color"_s)) c.color = QColor(o.value(u"color"_s).toString());
    for (const QJsonValue v : o.value(u"skipped"_s).toArray())
        c.skipped << v.toString();
    return c;
}

namespace {
QString msText(const QDateTime& t) {
    return QString::number(t.toMSecsSinceEpoch());
}
QDateTime msFrom(const QJsonValue& v) {
    return QDateTime::fromMSecsSinceEpoch(v.toString().toLongLong(), QTimeZone::utc());
}
} // namespace

QJsonObject eventJson(const StoreEvent& e) {
    QJsonObject o{{u"id"_s, e.id},           {u"cal"_s, e.calendarId},
                  {u"title"_s, e.title},     {u"start"_s, msText(e.start)},
                  {u"end"_s, msText(e.end)}, {u"part"_s, int(e.participation)}};
    if (e.allDay) o.insert(u"allDay"_s, true);
    if (e.cancelled) o.insert(u"cancelled"_s, true);
    if (!e.url.isEmpty()) o.insert(u"url"_s, e.url.toString(QUrl::FullyEncoded));
    if (!e.location.isEmpty()) o.insert(u"location"_s, e.location);
    if (!e.notes.isEmpty()) o.insert(u"notes"_s, e.notes);
    return o;
}

StoreEvent eventFrom(const QJsonObject& o) {
    StoreEvent e;
    e.id = o.value(u"id"_s).toString();
    e.calendarId = o.value(u"cal"_s).toString();
    e.title = o.value(u"title"_s).toString();
    e.start = msFrom(o.value(u"start"_s));
    e.end = msFrom(o.value(u"end"_s));
    e.allDay = o.value(u"allDay"_s).toBool();
    e.cancelled = o.value(u"cancelled"_s).toBool();
    const int part = o.value(u"part"_s).toInt();
    e.participation =
        part >= 0 && part <= int(Participation::declined) ? Participation(part) : Participation::none;
    if (o.contains(u"url"_s)) e.url = QUrl(o.value(u"url"_s).toString(), QUrl::StrictMode);
    e.location = o.value(u"location"_s).toString();
    e.notes = o.value(u"notes"_s).toString();
    return e;
}

QByteArray line(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace CalendarWire
