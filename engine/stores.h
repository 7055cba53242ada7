#pragma once

#include "engine/records.h"

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

    // Replaces the file with the pretty-printed value; false when it could not be written.
    bool write(const QString& fileName, const Json& value) const;

    // Keeps a file that could not be used as "<name>.corrupt-<yyyyMMdd-HHmmss>" so nothing the user
    // had is lost when the fallback value is written over it. Returns the new path, or empty.
    QString keepAside(const QString& fileName) const;

private:
    QString m_path;
    const Clock& m_clock;
};

// Canonical text of a store: two-space indentation, keys in field order, ending with a line end.
QByteArray storeText(const Json& value);
