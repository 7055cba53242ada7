// SPDX-License-Identifier: GPL-3.0-or-later
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
    // Reads and parses one file. Invalid JSON, text that is not UTF-8, a file that is not a regular
    // file and one beyond the limits below are undecodable.
    ReadResult read(const QString& fileName) const;

    // Replaces the file with `text` through a synced temporary file and a rename. A file that
    // already holds exactly these bytes is left alone. False when the text could not be written
    // whole; the file then keeps its previous content.
    bool writeText(const QString& fileName, const QByteArray& text) const;

    // Keeps a file that could not be used as "<name>.corrupt-<yyyyMMdd-HHmmss>" so nothing the user
    // had is lost when the fallback value is written over it. Returns the new path, or empty.
    QString keepAside(const QString& fileName) const;

private:
    QString m_path;
    const Clock& m_clock;
};

// Canonical text of each store: the records' stored form (toJson) as the JSON library prints it
// with two-space indentation, ending with a line end.
QByteArray storeText(const Settings& settings);
QByteArray storeText(const QList<Lockup>& lockups);
QByteArray storeText(const QList<ScheduleBlock>& schedules);
QByteArray storeText(const QList<DayStat>& history);

// What a store may cost to read. Real stores are a few hundred kilobytes and four levels deep; a
// file beyond either limit is undecodable, like malformed JSON.
constexpr qsizetype kMaxStoreBytes = 16 * 1024 * 1024;
constexpr int kMaxStoreDepth = 64;

// Parses JSON text as Json::parse does, without exceptions, giving a discarded value for malformed
// text and for containers nested deeper than `maxDepth`.
Json parseJson(QByteArrayView text, int maxDepth);
