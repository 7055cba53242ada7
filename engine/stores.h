#pragma once

#include "engine/records.h"

#include <QByteArrayView>
#include <QString>

class Clock;

// The folder of the four JSON stores. Files are written whole, pretty-printed, and atomically.
class StoreDirectory {
public:
    StoreDirectory(QString path, const Clock& clock);

    // The folder, created (with its parents) when missing; a failure shows up at the next read or write.
    QString path() const;

    enum class Status { missing, ok, undecodable };
    struct ReadResult {
        Status status = Status::missing;
        Json json;
    };
    // Reads and parses one file. Invalid JSON or text that is not UTF-8 is undecodable.
    ReadResult read(const QString& fileName) const;

    // Replaces the file with `text` through a synced temporary file and a rename. A file that
    // already holds exactly these bytes is left alone.
    bool writeText(const QString& fileName, const QByteArray& text) const;

    // Keeps a file that could not be used as "<name>.corrupt-<yyyyMMdd-HHmmss>" so nothing the user
    // had is lost when the fallback value is written over it. Returns the new path, or empty.
    QString keepAside(const QString& fileName) const;

private:
    QString m_path;
    const Clock& m_clock;
};

// Canonical text of each store, written straight from the records: two-space indentation, keys in
// field order, optional fields omitted when absent, ending with a line end.
QByteArray storeText(const Settings& settings);
QByteArray storeText(const QList<Lockup>& lockups);
QByteArray storeText(const QList<ScheduleBlock>& schedules);
QByteArray storeText(const QList<DayStat>& history);

// Parses JSON text with the rules of Json::parse (without exceptions): RFC 8259 syntax with an
// optional leading UTF-8 byte order mark, well-formed UTF-8 in strings, escaped surrogates only in
// pairs, non-negative integers as unsigned and negative ones as signed (each falling back to a
// float when out of range), no float too large for a double, a repeated key keeping its first
// place and its last value, and a NUL byte after the value ending the text. Anything else gives a
// discarded value. Nesting depth is limited only by memory.
Json parseJson(QByteArrayView text);
