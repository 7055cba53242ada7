// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/records.h"

#include "engine/loc.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {
bool bound(qint64& v, qint64 lo, qint64 hi) {
    const qint64 c = std::clamp(v, lo, hi);
    if (c == v) return false;
    v = c;
    return true;
}
} // namespace

QString phaseText(Phase p) {
    switch (p) {
    case Phase::standby:
        return u"standby"_s;
    case Phase::rolling:
        return u"rolling"_s;
    case Phase::setup:
        return u"setup"_s;
    case Phase::wrap:
        return u"wrap"_s;
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
    case LockKind::none:
        return u"none"_s;
    case LockKind::timer:
        return u"timer"_s;
    case LockKind::password:
        return u"password"_s;
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
    case LockKind::none:
        return pick(u"Open gate"_s, u"Barrière ouverte"_s);
    case LockKind::timer:
        return pick(u"Lock to timer"_s, u"Verrouiller au minuteur"_s);
    case LockKind::password:
        return pick(u"Lock with password"_s, u"Verrouiller par mot de passe"_s);
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
            if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_'))
                return false;
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
    while (a < b && (s[a] == u' ' || s[a] == u'\t'))
        ++a;
    while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t'))
        --b;
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
        for (QChar c : port)
            digits = digits && c >= u'0' && c <= u'9';
        if (digits) s = s.left(at);
    }
    const bool wildcard = s.startsWith(u"*."_s);
    s.remove(u"*."_s);
    while (s.endsWith(u'.'))
        s.chop(1);
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
        case u'\n':
        case u'\r':
        case 0x0B:
        case 0x0C:
        case 0x85:
        case 0x2028:
        case 0x2029:
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

// ---------------------------------------------------------------------------------------------
// The stored form of each record, described once: the writer and both readers come from it.

namespace {
// How a value is coded. Reads fail instead of converting: a string is never a number, a float
// never an Int.
template <class T> struct Coding;

template <> struct Coding<qint64> {
    static Json write(qint64 v) { return v; }
    // An integer beyond the 64-bit range reads as the nearest end; the bounds of the field follow.
    static bool read(const Json& j, qint64& out) {
        if (j.is_number_unsigned()) {
            out = qint64(std::min<std::uint64_t>(j.get<std::uint64_t>(), std::numeric_limits<qint64>::max()));
            return true;
        }
        if (!j.is_number_integer()) return false;
        out = j.get<qint64>();
        return true;
    }
};

template <> struct Coding<bool> {
    static Json write(bool v) { return v; }
    static bool read(const Json& j, bool& out) {
        if (!j.is_boolean()) return false;
        out = j.get<bool>();
        return true;
    }
};

template <> struct Coding<QString> {
    // A lone surrogate has no UTF-8 form and is written as a question mark.
    static Json write(const QString& s) { return s.toStdString(); }
    static bool read(const Json& j, QString& out) {
        if (!j.is_string()) return false;
        const std::string& s = j.get_ref<const std::string&>();
        out = QString::fromUtf8(s.data(), qsizetype(s.size()));
        return true;
    }
};

// A value stored as its text, which must name one.
template <auto text, auto fromText> struct TextCoding {
    template <class T> static Json write(const T& v) { return Coding<QString>::write(text(v)); }
    template <class T> static bool read(const Json& j, T& out) {
        QString s;
        if (!Coding<QString>::read(j, s)) return false;
        const std::optional<T> v = fromText(s);
        if (!v) return false;
        out = *v;
        return true;
    }
};
template <> struct Coding<QUuid> : TextCoding<uuidText, uuidFromText> {};
template <> struct Coding<LockKind> : TextCoding<lockKindText, lockKindFromText> {};

// A list reads whole or not at all.
template <class T> struct Coding<QList<T>> {
    static Json write(const QList<T>& list) {
        Json j = Json::array();
        j.get_ref<Json::array_t&>().reserve(size_t(list.size()));
        for (const T& e : list)
            j.push_back(Coding<T>::write(e));
        return j;
    }
    static bool read(const Json& j, QList<T>& out) {
        if (!j.is_array()) return false;
        QList<T> list;
        list.reserve(qsizetype(j.size()));
        for (const Json& e : j) {
            T value{};
            if (!Coding<T>::read(e, value)) return false;
            list.append(std::move(value));
        }
        out = std::move(list);
        return true;
    }
};

// Weekdays are a set: read in any order and with repeats, kept sorted without duplicates.
struct WeekdaySet {
    static Json write(const QList<int>& days) {
        Json j = Json::array();
        for (int d : days)
            j.push_back(qint64(d));
        return j;
    }
    static bool read(const Json& j, QList<int>& out) {
        QList<qint64> read;
        if (!Coding<QList<qint64>>::read(j, read)) return false;
        QList<int> days;
        for (qint64 d : read) {
            // Beyond the range of an int only the side matters: boundNumbers() takes it from there.
            const int day =
                int(std::clamp<qint64>(d, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
            if (!days.contains(day)) days.append(day);
        }
        std::sort(days.begin(), days.end());
        out = days;
        return true;
    }
};

// An optional value is left out when absent; missing and null both read as absent.
template <class T> struct Coding<std::optional<T>> {
    static Json write(const std::optional<T>& v) { return Coding<T>::write(*v); }
    static bool read(const Json& j, std::optional<T>& out) {
        if (j.is_null()) {
            out.reset();
            return true;
        }
        T value{};
        if (!Coding<T>::read(j, value)) return false;
        out = std::move(value);
        return true;
    }
};

template <class T> constexpr bool kOptional = false;
template <class T> constexpr bool kOptional<std::optional<T>> = true;

enum class FieldRead { read, missing, unreadable };

// One stored field: its key, the member it holds, and how the value is coded.
template <class R, class T, class C> struct Field {
    const char* key;
    T R::*member;

    void write(const R& r, Json& j) const {
        const T& v = r.*member;
        if constexpr (kOptional<T>) {
            if (!v) return;
        }
        j.emplace(key, C::write(v));
    }
    // A missing optional field reads as absent; any other missing or unreadable field leaves `r`
    // as it was.
    FieldRead read(const Json& j, R& r) const {
        const auto it = j.find(key);
        if (it == j.end()) {
            if constexpr (kOptional<T>) (r.*member).reset();
            return kOptional<T> ? FieldRead::read : FieldRead::missing;
        }
        T value = r.*member;
        if (!C::read(*it, value)) return FieldRead::unreadable;
        r.*member = std::move(value);
        return FieldRead::read;
    }
};
template <class C = void, class R, class T> constexpr auto field(const char* key, T R::*member) {
    return Field<R, T, std::conditional_t<std::is_void_v<C>, Coding<T>, C>>{key, member};
}

// The fields of each record, in the order they are written.
template <class R> struct Description;

template <> struct Description<Settings> {
    static constexpr std::tuple fields{
        field("focusMin", &Settings::focusMin),
        field("shortMin", &Settings::shortMin),
        field("longMin", &Settings::longMin),
        field("reel", &Settings::reel),
        field("soundOn", &Settings::soundOn),
        field("autoStartBreaks", &Settings::autoStartBreaks),
        field("autoStartTakes", &Settings::autoStartTakes),
        field("blockWebsites", &Settings::blockWebsites),
        field("blockApps", &Settings::blockApps),
        field("blockPage", &Settings::blockPage),
        field("blockDuringBreaks", &Settings::blockDuringBreaks),
        field("allowanceEnabled", &Settings::allowanceEnabled),
        field("allowanceMin", &Settings::allowanceMin),
        field("passwordHash", &Settings::passwordHash),
        field("activeLockupID", &Settings::activeLockupID),
        field("calendarEnabled", &Settings::calendarEnabled),
        field("meetingWarnEnabled", &Settings::meetingWarnEnabled),
        field("meetingWarnMinutes", &Settings::meetingWarnMinutes),
        field("mutedCalendarIDs", &Settings::mutedCalendarIDs),
    };
};

template <> struct Description<BlockedApp> {
    static constexpr std::tuple fields{
        field("id", &BlockedApp::id),
        field("name", &BlockedApp::name),
        field("bundleID", &BlockedApp::bundleID),
    };
};

template <> struct Description<Lockup> {
    static constexpr std::tuple fields{
        field("id", &Lockup::id),
        field("name", &Lockup::name),
        field("sites", &Lockup::sites),
        field("apps", &Lockup::apps),
    };
};

template <> struct Description<ScheduleBlock> {
    static constexpr std::tuple fields{
        field("id", &ScheduleBlock::id),
        field("enabled", &ScheduleBlock::enabled),
        field<WeekdaySet>("weekdays", &ScheduleBlock::weekdays),
        field("startHour", &ScheduleBlock::startHour),
        field("startMinute", &ScheduleBlock::startMinute),
        field("durationMin", &ScheduleBlock::durationMin),
        field("lockupID", &ScheduleBlock::lockupID),
        field("lockGate", &ScheduleBlock::lockGate),
        field("lockKind", &ScheduleBlock::lockKind),
    };
};

template <> struct Description<DayStat> {
    static constexpr std::tuple fields{
        field("date", &DayStat::date),
        field("takes", &DayStat::takes),
        field("focusedSeconds", &DayStat::focusedSeconds),
    };
};

template <class R>
concept Described = requires {
    Description<R>::fields;
};

// A record is an object of its fields, written in their order. Read as a list element, it is
// strict: every field other than an optional one must be there and readable.
template <Described R> struct Coding<R> {
    static Json write(const R& r) {
        Json j = Json::object();
        j.get_ref<Json::object_t&>().reserve(std::tuple_size_v<decltype(Description<R>::fields)>);
        std::apply([&](const auto&... f) { (f.write(r, j), ...); }, Description<R>::fields);
        return j;
    }
    static bool read(const Json& j, R& r) {
        if (!j.is_object()) return false;
        return std::apply([&](const auto&... f) { return ((f.read(j, r) == FieldRead::read) && ...); },
                          Description<R>::fields);
    }
};

template <class T> std::optional<QList<T>> decodeList(const Json& j, bool* bounded) {
    QList<T> list;
    if (!Coding<QList<T>>::read(j, list)) return std::nullopt;
    bool moved = false;
    if constexpr (!std::is_same_v<T, Lockup>)
        for (T& item : list)
            moved |= boundNumbers(item);
    if (bounded) *bounded = moved;
    return list;
}
} // namespace

SettingsDecode decodeSettings(const Json& j) {
    SettingsDecode out;
    if (!j.is_object()) return out;
    out.decoded = true;
    // Key by key: a missing key keeps its default, an unreadable one too and is told.
    std::apply(
        [&](const auto&... f) { ((out.hadBadKey |= f.read(j, out.settings) == FieldRead::unreadable), ...); },
        Description<Settings>::fields);
    if (boundNumbers(out.settings)) out.hadBadKey = true;
    return out;
}

std::optional<QList<Lockup>> decodeLockups(const Json& j, bool* bounded) {
    return decodeList<Lockup>(j, bounded);
}
std::optional<QList<ScheduleBlock>> decodeSchedules(const Json& j, bool* bounded) {
    return decodeList<ScheduleBlock>(j, bounded);
}
std::optional<QList<DayStat>> decodeHistory(const Json& j, bool* bounded) {
    return decodeList<DayStat>(j, bounded);
}

Json toJson(const Settings& settings) {
    return Coding<Settings>::write(settings);
}
Json toJson(const QList<Lockup>& lockups) {
    return Coding<QList<Lockup>>::write(lockups);
}
Json toJson(const QList<ScheduleBlock>& schedules) {
    return Coding<QList<ScheduleBlock>>::write(schedules);
}
Json toJson(const QList<DayStat>& history) {
    return Coding<QList<DayStat>>::write(history);
}

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

QList<Lockup> seedLockups() {
    auto app = [](const QString& name, const QString& bundleID) {
        return BlockedApp{QUuid::createUuid(), name, bundleID};
    };
    Lockup usual;
    usual.id = QUuid::createUuid();
    usual.name = pick(u"The usual suspects"_s, u"Les suspects habituels"_s);
    usual.sites = {
        u"reddit.com"_s,
        u"www.reddit.com"_s,
        u"old.reddit.com"_s, // link-sharing forum
        u"x.com"_s,
        u"twitter.com"_s,
        u"www.twitter.com"_s, // microblogging
        u"facebook.com"_s,
        u"www.facebook.com"_s,
        u"m.facebook.com"_s, // social network
        u"instagram.com"_s,
        u"www.instagram.com"_s, // photo sharing
        u"tiktok.com"_s,
        u"www.tiktok.com"_s, // short video
        u"youtube.com"_s,
        u"www.youtube.com"_s,
        u"m.youtube.com"_s,        // video sharing
        u"news.ycombinator.com"_s, // technology news forum
        u"cnn.com"_s,
        u"www.cnn.com"_s,
        u"nytimes.com"_s,
        u"www.nytimes.com"_s, // news
        u"twitch.tv"_s,
        u"www.twitch.tv"_s, // live streaming
        u"netflix.com"_s,
        u"www.netflix.com"_s, // film streaming
    };
    usual.apps = {app(u"Slack"_s, u"com.tinyspeck.slackmacgap"_s), app(u"Discord"_s, u"com.hnc.Discord"_s),
                  app(u"Messages"_s, u"com.apple.MobileSMS"_s)};

    Lockup news;
    news.id = QUuid::createUuid();
    news.name = pick(u"Newsroom blackout"_s, u"Blackout salle de nouvelles"_s);
    news.sites = {
        u"cnn.com"_s,
        u"www.cnn.com"_s,
        u"nytimes.com"_s,
        u"www.nytimes.com"_s,
        u"bbc.co.uk"_s,
        u"www.bbc.co.uk"_s, // British public broadcaster
        u"theguardian.com"_s,
        u"www.theguardian.com"_s, // British newspaper
        u"lapresse.ca"_s,
        u"www.lapresse.ca"_s, // French-language Canadian newspaper
        u"cbc.ca"_s,
        u"gem.cbc.ca"_s, // Canadian public broadcaster
        u"news.ycombinator.com"_s,
        u"reddit.com"_s,
        u"www.reddit.com"_s,
    };
    return {usual, news};
}
