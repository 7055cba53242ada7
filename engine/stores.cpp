#include "engine/stores.h"

#include "platform/clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVarLengthArray>

#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

StoreDirectory::StoreDirectory(QString path, const Clock& clock) : m_path(std::move(path)), m_clock(clock) {}

QString StoreDirectory::path() const {
    QDir().mkpath(m_path);
    return m_path;
}

StoreDirectory::ReadResult StoreDirectory::read(const QString& fileName) const {
    QFile f(path() + u'/' + fileName);
    if (!f.exists()) return {Status::missing, {}};
    if (!f.open(QIODevice::ReadOnly)) return {Status::undecodable, {}};
    const QByteArray bytes = f.readAll();
    // The parser rejects ill-formed UTF-8 inside strings as well as malformed JSON.
    Json j = parseJson(bytes);
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
    f.write(text);
    return f.commit();
}

QString StoreDirectory::keepAside(const QString& fileName) const {
    const QString from = path() + u'/' + fileName;
    if (!QFileInfo::exists(from)) return {};
    const QString stamp = m_clock.localNow().toString(u"yyyyMMdd-HHmmss"_s);
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
// The bytes a string takes over without a second look: printable ASCII but the quote and the
// backslash.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[size_t(c)] = c != '"' && c != '\\';
    return plain;
}();

class Parser {
public:
    explicit Parser(QByteArrayView text) : m_p(text.data()), m_end(text.data() + text.size()) {}

    Json parse() {
        Json root;
        if (!skipByteOrderMark() || !document(root)) return Json(Json::value_t::discarded);
        return root;
    }

private:
    bool skipByteOrderMark() {
        if (m_p == m_end || byte(*m_p) != 0xEF) return true;
        if (m_end - m_p < 3 || byte(m_p[1]) != 0xBB || byte(m_p[2]) != 0xBF) return false;
        m_p += 3;
        return true;
    }

    void skipSpace() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t')) ++m_p;
    }
    bool next(char c) {
        skipSpace();
        if (m_p == m_end || *m_p != c) return false;
        ++m_p;
        return true;
    }
    static unsigned byte(char c) { return static_cast<unsigned char>(c); }

    // Without recursion: `open` holds the containers being filled, innermost last; `slot` is where
    // the next value goes.
    bool document(Json& root) {
        std::vector<Json*> open;
        Json* slot = &root;
        for (;;) {
            skipSpace();
            if (m_p == m_end) return false;
            switch (*m_p) {
            case '{':
                ++m_p;
                *slot = Json::object();
                if (next('}')) break;
                slot->get_ref<Json::object_t&>().reserve(4);
                open.push_back(slot);
                if (!(slot = member(*slot))) return false;
                continue;
            case '[':
                ++m_p;
                *slot = Json::array();
                if (next(']')) break;
                open.push_back(slot);
                slot = &slot->get_ref<Json::array_t&>().emplace_back();
                continue;
            case '"': {
                std::string s;
                if (!string(s)) return false;
                *slot = std::move(s);
                break;
            }
            case 't':
                if (!literal("true")) return false;
                *slot = true;
                break;
            case 'f':
                if (!literal("false")) return false;
                *slot = false;
                break;
            case 'n':
                if (!literal("null")) return false;
                *slot = nullptr;
                break;
            default:
                if (!number(*slot)) return false;
            }
            // A value is complete: close every container that ends here, then find the next slot.
            for (;;) {
                if (open.empty()) {
                    // As in the library, a NUL byte ends the text: what follows it is not read.
                    skipSpace();
                    return m_p == m_end || *m_p == '\0';
                }
                Json& container = *open.back();
                if (container.is_array()) {
                    if (next(',')) {
                        slot = &container.get_ref<Json::array_t&>().emplace_back();
                        break;
                    }
                    if (m_p == m_end || *m_p != ']') return false;
                } else {
                    if (next(',')) {
                        if (!(slot = member(container))) return false;
                        break;
                    }
                    if (m_p == m_end || *m_p != '}') return false;
                }
                ++m_p;
                open.pop_back();
            }
        }
    }

    // Reads `"key":` and gives the member's place; a repeated key gets its first place back.
    Json* member(Json& object) {
        std::string key;
        skipSpace();
        if (m_p == m_end || *m_p != '"' || !string(key) || !next(':')) return nullptr;
        return &object[std::move(key)];
    }

    bool literal(std::string_view word) {
        if (m_end - m_p < qsizetype(word.size()) || std::string_view(m_p, word.size()) != word) return false;
        m_p += word.size();
        return true;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    bool digits() {
        if (m_p == m_end || !isDigit(*m_p)) return false;
        while (m_p != m_end && isDigit(*m_p)) ++m_p;
        return true;
    }

    bool number(Json& out) {
        const char* const start = m_p;
        if (*m_p == '-') ++m_p;
        if (m_p == m_end) return false;
        if (*m_p == '0') ++m_p;
        else if (!digits()) return false;
        bool integral = true;
        if (m_p != m_end && *m_p == '.') {
            ++m_p;
            integral = false;
            if (!digits()) return false;
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            integral = false;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-')) ++m_p;
            if (!digits()) return false;
        }
        if (integral) {
            if (*start == '-') {
                Json::number_integer_t n = 0;
                if (std::from_chars(start, m_p, n).ec == std::errc()) {
                    out = n;
                    return true;
                }
            } else {
                Json::number_unsigned_t n = 0;
                if (std::from_chars(start, m_p, n).ec == std::errc()) {
                    out = n;
                    return true;
                }
            }
        }
        // Floats, and integers out of range, as strtod reads them in the C locale; one too large
        // for a double is an error.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const std::string text(start, m_p);
        const double d = strtod_l(text.c_str(), nullptr, cLocale);
        if (!std::isfinite(d)) return false;
        out = Json::number_float_t(d);
        return true;
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    // The four hex digits after "\u", or -1.
    int hex4() {
        if (m_end - m_p < 4) return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hexValue(m_p[i]);
            if (h < 0) return -1;
            v = v * 16 + h;
        }
        m_p += 4;
        return v;
    }

    static void appendUtf8(std::string& out, char32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    // The length of the well-formed UTF-8 sequence of two to four bytes at m_p, or 0.
    qsizetype utf8Sequence() const {
        const qsizetype left = m_end - m_p;
        const auto at = [&](qsizetype i) { return byte(m_p[i]); };
        const auto tail = [&](qsizetype i, int lo = 0x80, int hi = 0xBF) {
            return i < left && at(i) >= unsigned(lo) && at(i) <= unsigned(hi);
        };
        const unsigned b = at(0);
        if (b >= 0xC2 && b <= 0xDF) return tail(1) ? 2 : 0;
        if (b == 0xE0) return tail(1, 0xA0) && tail(2) ? 3 : 0;
        if (b == 0xED) return tail(1, 0x80, 0x9F) && tail(2) ? 3 : 0;
        if (b >= 0xE1 && b <= 0xEF) return tail(1) && tail(2) ? 3 : 0;
        if (b == 0xF0) return tail(1, 0x90) && tail(2) && tail(3) ? 4 : 0;
        if (b >= 0xF1 && b <= 0xF3) return tail(1) && tail(2) && tail(3) ? 4 : 0;
        if (b == 0xF4) return tail(1, 0x80, 0x8F) && tail(2) && tail(3) ? 4 : 0;
        return 0;
    }

    // At the opening quote; leaves m_p after the closing one.
    bool string(std::string& out) {
        ++m_p;
        const char* run = m_p; // bytes taken over as they are
        for (;;) {
            while (m_p != m_end && kPlain[byte(*m_p)]) ++m_p;
            if (m_p == m_end) return false;
            const auto c = byte(*m_p);
            if (c == '"') {
                out.append(run, m_p);
                ++m_p;
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                const qsizetype n = utf8Sequence();
                if (n == 0) return false;
                m_p += n;
                continue;
            }
            out.append(run, m_p);
            if (++m_p == m_end) return false;
            switch (*m_p++) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                const int unit = hex4();
                if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
                char32_t cp = char32_t(unit);
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u') return false;
                    m_p += 2;
                    const int low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
                }
                appendUtf8(out, cp);
                break;
            }
            default: return false;
            }
            run = m_p;
        }
    }

    const char* m_p;
    const char* const m_end;
};
} // namespace

Json parseJson(QByteArrayView text) {
    return Parser(text).parse();
}
