#include "engine/stores.h"

#include "platform/clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    Json j = Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (j.is_discarded()) return {Status::undecodable, {}};
    return {Status::ok, std::move(j)};
}

QByteArray storeText(const Json& value) {
    const std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
    return QByteArray::fromStdString(text) + '\n';
}

bool StoreDirectory::write(const QString& fileName, const Json& value) const {
    QSaveFile f(path() + u'/' + fileName);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(storeText(value));
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
