// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fakes of the platform seams: the boundary of every engine test.
#include "platform/calendarstore.h"
#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/loginitem.h"
#include "platform/notifier.h"
#include "platform/privilegedrunner.h"
#include "platform/sleepwatch.h"
#include "platform/sound.h"
#include "platform/workspace.h"

#include "engine/records.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QPair>
#include <QThread>

#include <functional>

// Writes a whole file, creating its folder; false when it could not be written.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
// Runs the event loop until `done` holds, for at most `ms` milliseconds, for work that finishes on
// other threads or in other processes.
inline bool waitUntil(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline QDateTime utcTime(int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
}

// A whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A running application as the workspace would list it.
inline RunningApp fakeApp(qint64 pid, const QString& id, const QString& name = {},
                          const QStringList& more = {}) {
    RunningApp a;
    a.pid = pid;
    a.bundleID = id;
    a.identifiers = id.isEmpty() ? more : QStringList{id} + more;
    a.name = name;
    return a;
}

// A lockup's applications, one per identifier.
inline QList<BlockedApp> blockedApps(const QStringList& ids) {
    QList<BlockedApp> apps;
    for (const QString& id : ids)
        apps.append(BlockedApp{QUuid::createUuid(), id, id});
    return apps;
}

class FakeClock final : public Clock {
public:
    explicit FakeClock(const QDateTime& start = QDateTime(QDate(2026, 3, 2), QTime(10, 0), QTimeZone::utc()),
                       const QTimeZone& zone = QTimeZone::utc())
        : m_now(start.toUTC()), m_zone(zone) {}
    QDateTime now() const override { return m_now; }
    QTimeZone timeZone() const override { return m_zone; }

    void set(const QDateTime& t) { m_now = t.toUTC(); }
    void advance(qint64 seconds) { m_now = m_now.addSecs(seconds); }
    void setZone(const QTimeZone& z) { m_zone = z; }

private:
    QDateTime m_now;
    QTimeZone m_zone;
};

class MemoryDefaults final : public Defaults {
public:
    bool contains(const QString& key) const override { return m_values.contains(key); }
    QVariant value(const QString& key) const override { return m_values.value(key); }
    void setValue(const QString& key, const QVariant& value) override {
        m_values.insert(key, value);
        writes.append({key, value});
    }
    void remove(const QString& key) { m_values.remove(key); }

    QList<QPair<QString, QVariant>> writes;

private:
    QHash<QString, QVariant> m_values;
};

class FakeNotifier final : public Notifier {
public:
    struct Post {
        QString title, body;
    };
    void post(const QString& title, const QString& body) override { posts.append({title, body}); }
    QList<Post> posts;
};

// Wakes when the test says the machine woke.
class FakeSleepWatch final : public SleepWatch {
    Q_OBJECT
public:
    bool watching() const override { return true; }
    void wake() { emit resumed(); }
};

class FakeSound final : public Sound {
public:
    void play() override { ++plays; }
    int plays = 0;
};

// A workspace whose applications are plain records; terminating one removes it unless it is stubborn.
class FakeWorkspace final : public Workspace {
    Q_OBJECT
public:
    QList<RunningApp> runningApplications() override { return apps; }
    bool terminate(const RunningApp& app) override;
    void forceTerminate(const RunningApp& app) override;
    bool isTerminated(const RunningApp& app) override;
    void setWatchingLaunches(bool on) override { watching = on; }

    // Adds an application and, while watching, announces its launch.
    void launch(const RunningApp& app);

    QList<RunningApp> apps;
    QList<qint64> stubborn;    // pids that ignore a terminate request
    QList<qint64> undelivered; // pids whose terminate request is not delivered
    QList<qint64> terminated, forced;
    bool watching = false;
};

class FakeRunner final : public PrivilegedRunner {
public:
    PrivilegedResult run(const QString& scriptPath) override {
        scripts.append(scriptPath);
        return handler ? handler(scriptPath) : PrivilegedResult{true, {}, 0, {}};
    }
    std::function<PrivilegedResult(const QString&)> handler;
    QStringList scripts;
};

// A calendar store whose calendars and events are plain records; answers at once.
class FakeCalendarStore final : public CalendarStore {
    Q_OBJECT
public:
    CalendarAccess authorizationStatus() const override { return status; }
    void requestAccess(std::function<void(bool)> done) override {
        ++accessRequests;
        if (grantOnRequest) status = CalendarAccess::fullAccess;
        done(grantOnRequest);
    }
    QList<StoreCalendar> calendars() const override { return calendarList; }
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override {
        ++fetches;
        lastFrom = from;
        lastTo = to;
        QList<StoreEvent> out;
        for (const StoreEvent& e : eventList)
            if (calendarIds.contains(e.calendarId) && e.end > from && e.start < to) out.append(e);
        if (holdAnswers)
            held.append([done, out] { done(out); });
        else
            done(out);
    }
    void openSettings() override { ++settingsOpened; }
    // Tells the service that something changed.
    void touch() { emit changed(); }

    CalendarAccess status = CalendarAccess::notDetermined;
    bool grantOnRequest = true;
    QList<StoreCalendar> calendarList;
    QList<StoreEvent> eventList;
    int accessRequests = 0, fetches = 0, settingsOpened = 0;
    QDateTime lastFrom, lastTo;
    // While set, answers wait in `held` until the test runs them, as a slow store's would.
    bool holdAnswers = false;
    QList<std::function<void()>> held;
};

// A login item that is a plain flag; `refuse` makes every switch fail with `reason`.
class FakeLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    bool enable(QString& error) override { return change(true, error); }
    bool disable(QString& error) override { return change(false, error); }

    bool enabled = false;
    bool refuse = false;
    QString reason = QStringLiteral("refused");
    int changes = 0;

private:
    bool change(bool on, QString& error) {
        ++changes;
        if (refuse) {
            error = reason;
            return false;
        }
        enabled = on;
        return true;
    }
};
