// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <nlohmann/json.hpp>

#include <optional>

namespace Mivra {
Q_NAMESPACE

// Timer phase: idle before a take, a take, a short break, a long break.
enum class Phase { standby, rolling, setup, wrap };
Q_ENUM_NS(Phase)

// How a take's gate is locked.
enum class LockKind { none, timer, password };
Q_ENUM_NS(LockKind)
} // namespace Mivra

using Mivra::LockKind;
using Mivra::Phase;

using Json = nlohmann::ordered_json;

QString phaseText(Phase p);
std::optional<Phase> phaseFromText(const QString& text);
QString lockKindText(LockKind k);
std::optional<LockKind> lockKindFromText(const QString& text);
// The gate picker's help text, in the current interface language.
QString lockKindLabel(LockKind k);

// Identifiers are written as 36-character hyphenated upper-case hex; either case is read.
QString uuidText(const QUuid& id);
std::optional<QUuid> uuidFromText(const QString& text);

struct Settings {
    Q_GADGET
    Q_PROPERTY(qint64 focusMin MEMBER focusMin)
    Q_PROPERTY(qint64 shortMin MEMBER shortMin)
    Q_PROPERTY(qint64 longMin MEMBER longMin)
    Q_PROPERTY(qint64 reel MEMBER reel)
    Q_PROPERTY(bool soundOn MEMBER soundOn)
    Q_PROPERTY(bool autoStartBreaks MEMBER autoStartBreaks)
    Q_PROPERTY(bool autoStartTakes MEMBER autoStartTakes)
    Q_PROPERTY(bool blockWebsites MEMBER blockWebsites)
    Q_PROPERTY(bool blockApps MEMBER blockApps)
    Q_PROPERTY(bool blockPage MEMBER blockPage)
    Q_PROPERTY(bool blockDuringBreaks MEMBER blockDuringBreaks)
    Q_PROPERTY(bool allowanceEnabled MEMBER allowanceEnabled)
    Q_PROPERTY(qint64 allowanceMin MEMBER allowanceMin)
    Q_PROPERTY(bool calendarEnabled MEMBER calendarEnabled)
    Q_PROPERTY(bool meetingWarnEnabled MEMBER meetingWarnEnabled)
    Q_PROPERTY(qint64 meetingWarnMinutes MEMBER meetingWarnMinutes)
    Q_PROPERTY(QStringList mutedCalendarIDs MEMBER mutedCalendarIDs)
public:
    qint64 focusMin = 25;
    qint64 shortMin = 5;
    qint64 longMin = 15;
    qint64 reel = 4;
    bool soundOn = true;
    bool autoStartBreaks = true;
    bool autoStartTakes = false;
    bool blockWebsites = true;
    bool blockApps = true;
    bool blockPage = true;
    bool blockDuringBreaks = false;
    bool allowanceEnabled = false;
    qint64 allowanceMin = 30;
    std::optional<QString> passwordHash;
    std::optional<QUuid> activeLockupID;
    bool calendarEnabled = true;
    bool meetingWarnEnabled = true;
    qint64 meetingWarnMinutes = 5;
    QStringList mutedCalendarIDs;

    bool operator==(const Settings&) const = default;
};

struct BlockedApp {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString bundleID MEMBER bundleID)
public:
    QUuid id;
    QString name;
    QString bundleID;

    bool operator==(const BlockedApp&) const = default;
};

struct Lockup {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QStringList sites MEMBER sites)
public:
    QUuid id;
    QString name;
    QStringList sites;
    QList<BlockedApp> apps;

    // Replaces the sites with what the site-list parser makes of `text`.
    void setSites(const QString& text);

    bool operator==(const Lockup&) const = default;
};

struct ScheduleBlock {
    Q_GADGET
    Q_PROPERTY(bool enabled MEMBER enabled)
    Q_PROPERTY(qint64 startHour MEMBER startHour)
    Q_PROPERTY(qint64 startMinute MEMBER startMinute)
    Q_PROPERTY(qint64 durationMin MEMBER durationMin)
    Q_PROPERTY(bool lockGate MEMBER lockGate)
public:
    QUuid id;
    bool enabled = true;
    QList<int> weekdays; // 1 = Sunday ... 7 = Saturday; kept sorted without duplicates
    qint64 startHour = 9;
    qint64 startMinute = 0;
    qint64 durationMin = 25;
    std::optional<QUuid> lockupID;
    bool lockGate = true;
    LockKind lockKind = LockKind::timer;

    bool operator==(const ScheduleBlock&) const = default;
};

struct DayStat {
    Q_GADGET
    Q_PROPERTY(QString date MEMBER date)
    Q_PROPERTY(qint64 takes MEMBER takes)
    Q_PROPERTY(qint64 focusedSeconds MEMBER focusedSeconds)
public:
    QString date;
    qint64 takes = 0;
    qint64 focusedSeconds = 0;

    bool operator==(const DayStat&) const = default;
};

// Bounds of the stored numbers. Every Int read from a store or from the day counters is brought
// within them, and so are the settings on every change, so that no length, sum or expiry derived
// from them can overflow or change sign: lengths up to a million minutes (about two years), day
// totals up to 2^40. Schedule hours, minutes and weekdays that can never match a clock are kept
// just outside the clock's range, where they still never match.
constexpr qint64 kMaxMinutes = 1'000'000;
constexpr qint64 kMaxDayTotal = qint64(1) << 40;

// Brings the numbers of a record within their bounds; true when one of them moved.
bool boundNumbers(Settings& s);
bool boundNumbers(ScheduleBlock& b);
bool boundNumbers(DayStat& d);

// The site-list parser: one host per line, lower-cased, without scheme, user information, port,
// path, query, fragment or trailing dot; international names in their ASCII form; "*.example.com"
// gives example.com and www.example.com. A piece that is still no host name is left out and told.
struct SitePiece {
    enum class Why { none, spaces, notAName };
    QStringList hosts; // what the piece blocks (empty when it is blank or rejected)
    QString rejected;  // the piece as typed, when it is no host name
    Why why = Why::none;
};
SitePiece siteHostOf(const QString& piece);
struct SiteListParse {
    QStringList sites;
    QList<QPair<QString, SitePiece::Why>> rejected; // the piece as typed, and why
};
SiteListParse parseSites(const QString& text);
QStringList parseSiteList(const QString& text);
// The host name a stored entry stands for (entries stored before the parser knew ports, user
// information, international names or trailing dots); empty when it names no host.
QString hostFormOf(const QString& site);

// Settings decode key by key: a missing or unreadable key keeps its default; a null optional is
// absent. `hadBadKey` tells whether some listed key was present but could not be read as it stands
// (unreadable, or a number out of bounds): its value will not survive a rewrite.
struct SettingsDecode {
    Settings settings;
    bool decoded = false; // the top level was an object
    bool hadBadKey = false;
};
SettingsDecode decodeSettings(const Json& j);

// The stored form of the records: objects with keys in field order, optional fields left out when
// absent, identifiers in upper case.
Json toJson(const Settings& settings);
Json toJson(const QList<Lockup>& lockups);
Json toJson(const QList<ScheduleBlock>& schedules);
Json toJson(const QList<DayStat>& history);

// Lists decode strictly: one bad element fails the whole list. A null optional is absent. Numbers
// out of bounds are brought within them and `bounded`, when given, is set.
std::optional<QList<Lockup>> decodeLockups(const Json& j, bool* bounded = nullptr);
std::optional<QList<ScheduleBlock>> decodeSchedules(const Json& j, bool* bounded = nullptr);
std::optional<QList<DayStat>> decodeHistory(const Json& j, bool* bounded = nullptr);

// The two lockups of a first launch, named in the current interface language.
QList<Lockup> seedLockups();

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(Lockup)
Q_DECLARE_METATYPE(BlockedApp)
Q_DECLARE_METATYPE(ScheduleBlock)
Q_DECLARE_METATYPE(DayStat)
