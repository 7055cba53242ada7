// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/stores.h"

#include "engine/userzone.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVarLengthArray>

#include <charconv>
#include <cstring>

#include <unistd.h>

using namespace Qt::StringLiterals;

StoreDirectory::StoreDirectory(QString path, const Clock& clock) : m_path(std::move(path)), m_clock(clock) {}

QString StoreDirectory::path() const {
    QDir().mkpath(m_path);
    return m_path;
}

StoreDirectory::ReadResult StoreDirectory::read(const QString& fileName) const {
    const QString file = path() + u'/' + fileName;
    const QFileInfo info(file);
    if (!info.exists()) return {Status::missing, {}};
    // Only a regular file is a store: a pipe would stall the launch, a device would never end.
    QFile f(file);
    if (!info.isFile() || !f.open(QIODevice::ReadOnly)) return {Status::undecodable, {}};
    const qint64 size = f.size();
    if (size > kMaxStoreBytes) return {Status::undecodable, {}};
    const QByteArray bytes = f.read(size + 1); // one byte more tells of a file that grew meanwhile
    if (bytes.size() > size) return {Status::undecodable, {}};
    // The parser rejects ill-formed UTF-8 inside strings as well as malformed JSON.
    Json j = parseJson(bytes, kMaxStoreDepth);
    if (j.is_discarded()) return {Status::undecodable, {}};
    return {Status::ok, std::move(j)};
}

bool StoreDirectory::writeText(const QString& fileName, const QByteArray& text) const {
    const QString target = path() + u'/' + fileName;
    // Most writes at start-up give back what was just read; those cost a read instead of a sync.
    {
        QFile current(target);
        if (current.size() == text.size() && current.open(QIODevice::ReadOnly) && current.readAll() == text)
            return true;
    }
    QSaveFile f(target);
    if (!f.open(QIODevice::WriteOnly)) return false;
    // QSaveFile renames a temporary file it could not fill (a full disk, a quota) into place all the
    // same, so every step is checked here and a failed one leaves the previous file as it was.
    if (f.write(text) != text.size() || !f.flush() || ::fsync(f.handle()) != 0) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

QString StoreDirectory::keepAside(const QString& fileName) const {
    const QString from = path() + u'/' + fileName;
    if (!QFileInfo::exists(from)) return {};
    const QString stamp = userLocalNow(m_clock).toString(u"yyyyMMdd-HHmmss"_s);
    QString to = from + u".corrupt-"_s + stamp;
    for (int n = 2; QFileInfo::exists(to); ++n) to = from + u".corrupt-"_s + stamp + u'-' + QString::number(n);
    return QFile::rename(from, to) ? to : QString();
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {
// A streaming writer of the canonical layout: every element of a non-empty container on its own
// line, two spaces deeper than the container; empty containers as "[]" and "{}"; strings escaped
// as the Json serializer escapes them without ensure_ascii.
class PrettyWriter {
public:
    explicit PrettyWriter(qsizetype expectedSize) { grow(expectedSize); }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }

    // `name` is plain ASCII without characters that need escaping.
    void key(std::string_view name) {
        element();
        put('"');
        put(name.data(), qsizetype(name.size()));
        put("\": ", 3);
        m_afterKey = true;
    }

    void value(qint64 n) {
        beforeValue();
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, n);
        put(digits, r.ptr - digits);
    }
    void value(bool b) {
        beforeValue();
        if (b) put("true", 4);
        else put("false", 5);
    }
    void value(QStringView s) {
        beforeValue();
        put('"');
        const char16_t* const d = s.utf16();
        const qsizetype n = s.size();
        qsizetype i = 0;
        for (; i < n && d[i] < 0x80; ++i) escaped(char(d[i]));
        if (i < n) {
            // Everything before is ASCII, so the rest starts on a character boundary.
            const QByteArray rest = s.sliced(i).toUtf8();
            for (char c : rest) escaped(c);
        }
        put('"');
    }

    template <class T> void member(std::string_view name, const T& v) {
        key(name);
        value(v);
    }

    QByteArray finish() {
        put('\n');
        m_out.truncate(m_size);
        return std::move(m_out);
    }

private:
    void open(char c) {
        beforeValue();
        put(c);
        m_hasElements.append(false);
    }
    void close(char c) {
        const bool any = m_hasElements.back();
        m_hasElements.removeLast();
        if (any) newLine();
        put(c);
    }
    void beforeValue() {
        if (m_afterKey) m_afterKey = false;
        else element();
    }
    // Starts an element of the innermost container, if there is one.
    void element() {
        if (m_hasElements.isEmpty()) return;
        if (m_hasElements.back()) put(',');
        m_hasElements.back() = true;
        newLine();
    }
    void newLine() {
        const qsizetype width = m_hasElements.size() * 2;
        char* p = room(width + 1);
        *p = '\n';
        std::memset(p + 1, ' ', size_t(width));
    }
    void escaped(char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\') {
            put(c);
            return;
        }
        switch (c) {
        case '"': put("\\\"", 2); return;
        case '\\': put("\\\\", 2); return;
        case '\b': put("\\b", 2); return;
        case '\t': put("\\t", 2); return;
        case '\n': put("\\n", 2); return;
        case '\f': put("\\f", 2); return;
        case '\r': put("\\r", 2); return;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            const char code[] = {'\\', 'u', '0', '0', hex[u >> 4], hex[u & 0xF]};
            put(code, sizeof code);
        }
        }
    }

    // The text grows in a buffer of its own, cut to size at the end.
    char* room(qsizetype n) {
        if (m_size + n > m_capacity) grow(n);
        char* p = m_data + m_size;
        m_size += n;
        return p;
    }
    void grow(qsizetype n) {
        m_capacity = std::max(m_capacity * 2, m_size + n);
        m_out.resize(m_capacity);
        m_data = m_out.data();
    }
    void put(char c) { *room(1) = c; }
    void put(const char* s, qsizetype n) { std::memcpy(room(n), s, size_t(n)); }

    QByteArray m_out;
    char* m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
    QVarLengthArray<bool, 8> m_hasElements;
    bool m_afterKey = false;
};

void writeUuid(PrettyWriter& w, std::string_view name, const QUuid& id) {
    w.member(name, QStringView(uuidText(id)));
}

void writeStrings(PrettyWriter& w, std::string_view name, const QStringList& list) {
    w.key(name);
    w.beginArray();
    for (const QString& s : list) w.value(QStringView(s));
    w.endArray();
}

qsizetype textSize(const QStringList& list) {
    qsizetype n = 0;
    for (const QString& s : list) n += s.size() + 8;
    return n;
}
} // namespace


QByteArray storeText(const Settings& s) {
    PrettyWriter w(1024 + textSize(s.mutedCalendarIDs));
    w.beginObject();
    w.member("focusMin", s.focusMin);
    w.member("shortMin", s.shortMin);
    w.member("longMin", s.longMin);
    w.member("reel", s.reel);
    w.member("soundOn", s.soundOn);
    w.member("autoStartBreaks", s.autoStartBreaks);
    w.member("autoStartTakes", s.autoStartTakes);
    w.member("blockWebsites", s.blockWebsites);
    w.member("blockApps", s.blockApps);
    w.member("blockPage", s.blockPage);
    w.member("blockDuringBreaks", s.blockDuringBreaks);
    w.member("allowanceEnabled", s.allowanceEnabled);
    w.member("allowanceMin", s.allowanceMin);
    if (s.passwordHash) w.member("passwordHash", QStringView(*s.passwordHash));
    if (s.activeLockupID) writeUuid(w, "activeLockupID", *s.activeLockupID);
    w.member("calendarEnabled", s.calendarEnabled);
    w.member("meetingWarnEnabled", s.meetingWarnEnabled);
    w.member("meetingWarnMinutes", s.meetingWarnMinutes);
    writeStrings(w, "mutedCalendarIDs", s.mutedCalendarIDs);
    w.endObject();
    return w.finish();
}

QByteArray storeText(const QList<Lockup>& lockups) {
    qsizetype size = 8;
    for (const Lockup& l : lockups) size += 256 + l.name.size() + textSize(l.sites) + l.apps.size() * 192;
    PrettyWriter w(size);
    w.beginArray();
    for (const Lockup& l : lockups) {
        w.beginObject();
        writeUuid(w, "id", l.id);
        w.member("name", QStringView(l.name));
        writeStrings(w, "sites", l.sites);
        w.key("apps");
        w.beginArray();
        for (const BlockedApp& a : l.apps) {
            w.beginObject();
            writeUuid(w, "id", a.id);
            w.member("name", QStringView(a.name));
            w.member("bundleID", QStringView(a.bundleID));
            w.endObject();
        }
        w.endArray();
        w.endObject();
    }
    w.endArray();
    return w.finish();
}

QByteArray storeText(const QList<ScheduleBlock>& schedules) {
    PrettyWriter w(8 + schedules.size() * 400);
    w.beginArray();
    for (const ScheduleBlock& b : schedules) {
        w.beginObject();
        writeUuid(w, "id", b.id);
        w.member("enabled", b.enabled);
        w.key("weekdays");
        w.beginArray();
        for (int d : b.weekdays) w.value(qint64(d));
        w.endArray();
        w.member("startHour", b.startHour);
        w.member("startMinute", b.startMinute);
        w.member("durationMin", b.durationMin);
        if (b.lockupID) writeUuid(w, "lockupID", *b.lockupID);
        w.member("lockGate", b.lockGate);
        w.member("lockKind", QStringView(lockKindText(b.lockKind)));
        w.endObject();
    }
    w.endArray();
    return w.finish();
}

QByteArray storeText(const QList<DayStat>& history) {
    PrettyWriter w(8 + history.size() * 96);
    w.beginArray();
    for (const DayStat& d : history) {
        w.beginObject();
        w.member("date", QStringView(d.date));
        w.member("takes", d.takes);
        w.member("focusedSeconds", d.focusedSeconds);
        w.endObject();
    }
    w.endArray();
    return w.finish();
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {
// The library's own tree builder, stopped at the first container nested deeper than the limit, so
// that a hostile file costs neither a deep stack nor a tree of millions of empty arrays.
class DepthLimitedBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    DepthLimitedBuilder(Json& root, int maxDepth) : json_sax_dom_parser(root, false), m_left(maxDepth) {}

    bool start_object(std::size_t n) { return enter() && json_sax_dom_parser::start_object(n); }
    bool start_array(std::size_t n) { return enter() && json_sax_dom_parser::start_array(n); }
    bool end_object() {
        ++m_left;
        return json_sax_dom_parser::end_object();
    }
    bool end_array() {
        ++m_left;
        return json_sax_dom_parser::end_array();
    }

private:
    bool enter() { return m_left-- > 0; }
    int m_left;
};
} // namespace

Json parseJson(QByteArrayView text, int maxDepth) {
    Json root;
    DepthLimitedBuilder builder(root, maxDepth);
    if (!Json::sax_parse(text.begin(), text.end(), &builder) || builder.is_errored())
        return Json(Json::value_t::discarded);
    return root;
}
