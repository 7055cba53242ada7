// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/stores.h"

#include "engine/userzone.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    for (int n = 2; QFileInfo::exists(to); ++n)
        to = from + u".corrupt-"_s + stamp + u'-' + QString::number(n);
    return QFile::rename(from, to) ? to : QString();
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {
// The library prints every element of a non-empty container on its own line, two spaces deeper
// than the container, and empty containers as "[]" and "{}". Its text is UTF-8 throughout.
QByteArray printed(const Json& j) {
    std::string text = j.dump(2);
    text += '\n';
    return QByteArray::fromStdString(text);
}
} // namespace

QByteArray storeText(const Settings& settings) {
    return printed(toJson(settings));
}
QByteArray storeText(const QList<Lockup>& lockups) {
    return printed(toJson(lockups));
}
QByteArray storeText(const QList<ScheduleBlock>& schedules) {
    return printed(toJson(schedules));
}
QByteArray storeText(const QList<DayStat>& history) {
    return printed(toJson(history));
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
