// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/records.h"

#include "engine/loc.h"

#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {
QString qs(const Json& j) {
    const std::string& s = j.get_ref<const std::string&>();
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Typed reads that fail instead of converting: a string is never a number, a float never an Int.
// An integer beyond the 64-bit range reads as the nearest end; the bounds of the field follow.
bool readInt(const Json& j, qint64& out) {
    if (j.is_number_unsigned()) {
        out = qint64(std::min<std::uint64_t>(j.get<std::uint64_t>(), std::numeric_limits<qint64>::max()));
        return true;
    }
    if (!j.is_number_integer()) return false;
    out = j.get<qint64>();
    return true;
}
bool readBool(const Json& j, bool& out) {
    if (!j.is_boolean()) return false;
    out = j.get<bool>();
    return true;
}
bool readString(const Json& j, QString& out) {
    if (!j.is_string()) return false;
    out = qs(j);
    return true;
}
bool readUuid(const Json& j, QUuid& out) {
    if (!j.is_string()) return false;
    auto id = uuidFromText(qs(j));
    if (!id) return false;
    out = *id;
    return true;
}
bool readStringList(const Json& j, QStringList& out) {
    if (!j.is_array()) return false;
    QStringList list;
    for (const Json& e : j) {
        if (!e.is_string()) return false;
        list.append(qs(e));
    }
    out = list;
    return true;
}

// A required member of a list element; fails the element when missing or of the wrong type.
template <class T, class F> bool member(const Json& obj, const char* key, T& out, F read) {
    auto it = obj.find(key);
    return it != obj.end() && read(*it, out);
}

// An optional member: missing and null are both absent; any other value must read.
template <class T, class F> bool optionalMember(const Json& obj, const char* key, std::optional<T>& out, F read) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) {
        out.reset();
        return true;
    }
    T value;
    if (!read(*it, value)) return false;
    out = value;
    return true;
}

bool bound(qint64& v, qint64 lo, qint64 hi) {
    const qint64 c = std::clamp(v, lo, hi);
    if (c == v) return false;
    v = c;
    return true;
}
} // namespace

QString phaseText(Phase p) {
    switch (p) {
    case Phase::standby: return u"standby"_s;
    case Phase::rolling: return u"rolling"_s;
    case Phase::setup: return u"setup"_s;
    case Phase::wrap: return u"wrap"_s;
    }
    return u"standby"_s;
}

std::optional<Phase> phaseFromText(const QString& text) {
    for (Phase p : {Phase::standby, Phase::rolling, Phase::setup, Phase::wrap})
        if (phaseText(p) == text) return p;
    return std::nullopt;
}

QString lockKindText(LockKind k) {
    switch (k) {
    case LockKind::none: return u"none"_s;
    case LockKind::timer: return u"timer"_s;
    case LockKind::password: return u"password"_s;
    }
    return u"none"_s;
}

std::optional<LockKind> lockKindFromText(const QString& text) {
    for (LockKind k : {LockKind::none, LockKind::timer, LockKind::password})
        if (lockKindText(k) == text) return k;
    return std::nullopt;
}

QString lockKindLabel(LockKind k) {
    switch (k) {
    case LockKind::none: return pick(u"Open gate"_s, u"Barrière ouverte"_s);
    case LockKind::timer: return pick(u"Lock to timer"_s, u"Verrouiller au minuteur"_s);
    case LockKind::password: return pick(u"Lock with password"_s, u"Verrouiller par mot de passe"_s);
    }
    return {};
}

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromText(const QString& text) {
    // Only the plain 36-character hyphenated form is an identifier; braces or other shapes are not.
    static const QRegularExpression shape(
        u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
    if (!shape.match(text).hasMatch()) return std::nullopt;
    return QUuid::fromString(text);
}

namespace {
// Lower-case letters, digits, hyphens and underscores, in dot-separated labels of 1 to 63 characters
// that neither begin nor end with a hyphen; 253 characters at most. Walked once, without copies:
// the lockup file is written from it for every site.
bool validHostName(const QString& host) {
    if (host.isEmpty() || host.size() > 253) return false;
    qsizetype label = 0;
    QChar prev = u'.';
    for (QChar c : host) {
        if (c == u'.') {
            if (label == 0 || prev == u'-') return false;
            label = 0;
        } else {
            if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_')) return false;
            if (c == u'-' && label == 0) return false;
            if (++label > 63) return false;
        }
        prev = c;
    }
    return label > 0 && prev != u'-';
}

bool plainAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() > 0x7E || c.unicode() < 0x21) return false;
    return true;
}
} // namespace

SitePiece siteHostOf(const QString& piece) {
    SitePiece out;
    QString s = piece;
    qsizetype a = 0, b = s.size();
    while (a < b && (s[a] == u' ' || s[a] == u'\t')) ++a;
    while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t')) --b;
    s = s.mid(a, b - a).toLower();
    if (s.isEmpty()) return out;
    if (auto at = s.indexOf(u"://"); at >= 0) s = s.mid(at + 3);
    // The host ends where a path, a query or a fragment begins.
    for (QChar end : {u'/', u'?', u'#'})
        if (auto at = s.indexOf(end); at >= 0) s = s.left(at);
    if (auto at = s.lastIndexOf(u'@'); at >= 0) s = s.mid(at + 1); // user information
    if (auto at = s.lastIndexOf(u':'); at >= 0) {
        const QString port = s.mid(at + 1);
        bool digits = true;
        for (QChar c : port) digits = digits && c >= u'0' && c <= u'9';
        if (digits) s = s.left(at);
    }
    const bool wildcard = s.startsWith(u"*."_s);
    s.remove(u"*."_s);
    while (s.endsWith(u'.')) s.chop(1);
    if (s.isEmpty()) return out;
    const auto reject = [&](SitePiece::Why why) {
        out.rejected = piece.trimmed();
        out.why = why;
        return out;
    };
    if (s.contains(u' ') || s.contains(u'\t')) return reject(SitePiece::Why::spaces);
    if (!plainAscii(s)) {
        const QByteArray ace = QUrl::toAce(s);
        if (ace.isEmpty()) return reject(SitePiece::Why::notAName);
        s = QString::fromLatin1(ace);
    }
    if (!validHostName(s)) return reject(SitePiece::Why::notAName);
    out.hosts << s;
    // "*.example.com": the name itself and its usual www form.
    if (wildcard && !s.startsWith(u"www."_s)) out.hosts << u"www."_s + s;
    return out;
}

SiteListParse parseSites(const QString& text) {
    SiteListParse out;
    QString piece;
    auto flush = [&] {
        if (piece.isEmpty()) return;
        const SitePiece p = siteHostOf(piece);
        piece.clear();
        out.sites << p.hosts;
        if (!p.rejected.isEmpty()) out.rejected.append({p.rejected, p.why});
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case u'\n': case u'\r': case 0x0B: case 0x0C: case 0x85: case 0x2028: case 0x2029:
            flush(); // CR LF gives an empty piece in between, which is dropped
            break;
        default:
            piece.append(QChar(c));
        }
    }
    flush();
    return out;
}

QStringList parseSiteList(const QString& text) {
    return parseSites(text).sites;
}

QString hostFormOf(const QString& site) {
    // Stored entries are usually host names already; only the rest goes through the parser.
    if (validHostName(site)) return site;
    const SitePiece p = siteHostOf(site);
    return p.hosts.isEmpty() ? QString() : p.hosts.first();
}

void Lockup::setSites(const QString& text) {
    sites = parseSiteList(text);
}

SettingsDecode decodeSettings(const Json& j) {
    SettingsDecode out;
    if (!j.is_object()) return out;
    out.decoded = true;
    Settings& s = out.settings;
    auto field = [&](const char* key, auto& target, auto read) {
        auto it = j.find(key);
        if (it == j.end()) return;
        auto value = target;
        if (read(*it, value)) target = value;
        else out.hadBadKey = true;
    };
    field("focusMin", s.focusMin, readInt);
    field("shortMin", s.shortMin, readInt);
    field("longMin", s.longMin, readInt);
    field("reel", s.reel, readInt);
    field("soundOn", s.soundOn, readBool);
    field("autoStartBreaks", s.autoStartBreaks, readBool);
    field("autoStartTakes", s.autoStartTakes, readBool);
    field("blockWebsites", s.blockWebsites, readBool);
    field("blockApps", s.blockApps, readBool);
    field("blockPage", s.blockPage, readBool);
    field("blockDuringBreaks", s.blockDuringBreaks, readBool);
    field("allowanceEnabled", s.allowanceEnabled, readBool);
    field("allowanceMin", s.allowanceMin, readInt);
    if (!optionalMember(j, "passwordHash", s.passwordHash, readString)) out.hadBadKey = true;
    if (!optionalMember(j, "activeLockupID", s.activeLockupID, readUuid)) out.hadBadKey = true;
    field("calendarEnabled", s.calendarEnabled, readBool);
    field("meetingWarnEnabled", s.meetingWarnEnabled, readBool);
    field("meetingWarnMinutes", s.meetingWarnMinutes, readInt);
    field("mutedCalendarIDs", s.mutedCalendarIDs, readStringList);
    if (boundNumbers(s)) out.hadBadKey = true;
    return out;
}

namespace {
bool readBlockedApp(const Json& j, BlockedApp& a) {
    return j.is_object() && member(j, "id", a.id, readUuid) && member(j, "name", a.name, readString) &&
           member(j, "bundleID", a.bundleID, readString);
}
bool readLockup(const Json& j, Lockup& l) {
    if (!j.is_object() || !member(j, "id", l.id, readUuid) || !member(j, "name", l.name, readString) ||
        !member(j, "sites", l.sites, readStringList))
        return false;
    auto apps = j.find("apps");
    if (apps == j.end() || !apps->is_array()) return false;
    for (const Json& e : *apps) {
        BlockedApp a;
        if (!readBlockedApp(e, a)) return false;
        l.apps.append(a);
    }
    return true;
}
bool readWeekdays(const Json& j, QList<int>& out) {
    if (!j.is_array()) return false;
    QList<int> days;
    for (const Json& e : j) {
        qint64 d = 0;
        if (!readInt(e, d)) return false;
        // Beyond the range of an int only the side matters: boundNumbers() takes it from there.
        d = std::clamp<qint64>(d, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        if (!days.contains(int(d))) days.append(int(d));
    }
    std::sort(days.begin(), days.end());
    out = days;
    return true;
}
bool readLockKind(const Json& j, LockKind& out) {
    QString text;
    if (!readString(j, text)) return false;
    auto k = lockKindFromText(text);
    if (!k) return false;
    out = *k;
    return true;
}
bool readSchedule(const Json& j, ScheduleBlock& b) {
    if (!j.is_object()) return false;
    if (!member(j, "id", b.id, readUuid) || !member(j, "enabled", b.enabled, readBool) ||
        !member(j, "weekdays", b.weekdays, readWeekdays) || !member(j, "startHour", b.startHour, readInt) ||
        !member(j, "startMinute", b.startMinute, readInt) ||
        !member(j, "durationMin", b.durationMin, readInt) || !member(j, "lockGate", b.lockGate, readBool) ||
        !member(j, "lockKind", b.lockKind, readLockKind))
        return false;
    return optionalMember(j, "lockupID", b.lockupID, readUuid);
}
bool readDayStat(const Json& j, DayStat& d) {
    return j.is_object() && member(j, "date", d.date, readString) && member(j, "takes", d.takes, readInt) &&
           member(j, "focusedSeconds", d.focusedSeconds, readInt);
}

template <class T, class F> std::optional<QList<T>> decodeList(const Json& j, F read, bool* bounded) {
    if (!j.is_array()) return std::nullopt;
    QList<T> list;
    list.reserve(qsizetype(j.size()));
    bool moved = false;
    for (const Json& e : j) {
        T item;
        if (!read(e, item)) return std::nullopt;
        if constexpr (!std::is_same_v<T, Lockup>) moved |= boundNumbers(item);
        list.append(std::move(item));
    }
    if (bounded) *bounded = moved;
    return list;
}
} // namespace

bool boundNumbers(Settings& s) {
    bool moved = false;
    for (qint64* n : {&s.focusMin, &s.shortMin, &s.longMin, &s.reel, &s.allowanceMin, &s.meetingWarnMinutes})
        moved |= bound(*n, 0, kMaxMinutes);
    return moved;
}

bool boundNumbers(ScheduleBlock& b) {
    // Weekdays outside 1 to 7 never match: they become 0 or 8, which never match either.
    bool moved = false;
    QList<int> days;
    for (int d : b.weekdays) {
        const int day = std::clamp(d, 0, 8);
        moved |= day != d;
        if (!days.contains(day)) days.append(day);
    }
    if (moved) {
        std::sort(days.begin(), days.end());
        b.weekdays = days;
    }
    moved |= bound(b.startHour, -1, 24);
    moved |= bound(b.startMinute, -1, 60);
    moved |= bound(b.durationMin, 0, kMaxMinutes);
    return moved;
}

bool boundNumbers(DayStat& d) {
    bool moved = bound(d.takes, 0, kMaxDayTotal);
    moved |= bound(d.focusedSeconds, 0, kMaxDayTotal);
    return moved;
}

std::optional<QList<Lockup>> decodeLockups(const Json& j, bool* bounded) {
    return decodeList<Lockup>(j, readLockup, bounded);
}
std::optional<QList<ScheduleBlock>> decodeSchedules(const Json& j, bool* bounded) {
    return decodeList<ScheduleBlock>(j, readSchedule, bounded);
}
std::optional<QList<DayStat>> decodeHistory(const Json& j, bool* bounded) {
    return decodeList<DayStat>(j, readDayStat, bounded);
}

QList<Lockup> seedLockups() {
    auto app = [](const QString& name, const QString& bundleID) {
        return BlockedApp{QUuid::createUuid(), name, bundleID};
    };
    Lockup usual;
    usual.id = QUuid::createUuid();
    usual.name = pick(u"The usual suspects"_s, u"Les suspects habituels"_s);
    usual.sites = {
        u"reddit.com"_s,     u"www.reddit.com"_s,    u"old.reddit.com"_s,   // link-sharing forum
        u"x.com"_s,          u"twitter.com"_s,       u"www.twitter.com"_s,  // microblogging
        u"facebook.com"_s,   u"www.facebook.com"_s,  u"m.facebook.com"_s,   // social network
        u"instagram.com"_s,  u"www.instagram.com"_s,                        // photo sharing
        u"tiktok.com"_s,     u"www.tiktok.com"_s,                           // short video
        u"youtube.com"_s,    u"www.youtube.com"_s,   u"m.youtube.com"_s,    // video sharing
        u"news.ycombinator.com"_s,                                          // technology news forum
        u"cnn.com"_s,        u"www.cnn.com"_s,       u"nytimes.com"_s,     u"www.nytimes.com"_s, // news
        u"twitch.tv"_s,      u"www.twitch.tv"_s,                            // live streaming
        u"netflix.com"_s,    u"www.netflix.com"_s,                          // film streaming
    };
    usual.apps = {app(u"Slack"_s, u"com.tinyspeck.slackmacgap"_s), app(u"Discord"_s, u"com.hnc.Discord"_s),
                  app(u"Messages"_s, u"com.apple.MobileSMS"_s)};

    Lockup news;
    news.id = QUuid::createUuid();
    news.name = pick(u"Newsroom blackout"_s, u"Blackout salle de nouvelles"_s);
    news.sites = {
        u"cnn.com"_s,         u"www.cnn.com"_s,     u"nytimes.com"_s, u"www.nytimes.com"_s,
        u"bbc.co.uk"_s,       u"www.bbc.co.uk"_s,          // British public broadcaster
        u"theguardian.com"_s, u"www.theguardian.com"_s,    // British newspaper
        u"lapresse.ca"_s,     u"www.lapresse.ca"_s,        // French-language Canadian newspaper
        u"cbc.ca"_s,          u"gem.cbc.ca"_s,             // Canadian public broadcaster
        u"news.ycombinator.com"_s, u"reddit.com"_s, u"www.reddit.com"_s,
    };
    return {usual, news};
}
