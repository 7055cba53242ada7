// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calendar/ical/icalstore.h"
#include "platform/calendarstore.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <deque>
#include <optional>

class Defaults;

// The calendar reader's address space: a file that needs more ends the reader and is skipped.
constexpr qint64 kCalendarReaderMemoryBytes = 1536LL * 1024 * 1024;

// The calendar files, read by the reader process (mivra-calendar-reader) so that no file can stop
// the clock: the calendar library may loop for ever on a hostile rule or time zone. Each file has
// a budget of processor time (kFileBudgetMs) while the library reads it or expands its series, and
// every series at most 1,000 occurrences in a window; a file over its budget, one that ends the
// reader (memory) and one beyond kMaxCalendarFileBytes is skipped for as long as it keeps its size
// and time, and its calendar lists it. Answers always arrive later, on the GUI thread.
class CalendarReaderStore final : public CalendarStore {
    Q_OBJECT
public:
    // Processor time one file may take in the reader.
    static constexpr int kFileBudgetMs = 3000;

    // `program` empty: defaultProgram().
    CalendarReaderStore(Defaults& defaults, QList<CalendarRoot> roots = IcalCalendarStore::defaultRoots(),
                        QString program = {}, QObject* parent = nullptr);
    ~CalendarReaderStore() override;

    // The reader beside Mivra's executable, else in the libexec folder of the installation.
    static QString defaultProgram();

    CalendarAccess authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> done) override;
    // The calendars the reader last reported; a new list is asked for when the folders changed,
    // and `changed` is told when it differs.
    QList<StoreCalendar> calendars() const override;
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override;
    void openSettings() override;

    std::function<bool(const QUrl&)> openFolder;
    void setSettleTime(int ms) { m_settleMs = ms; }
    void setFileBudget(int cpuMs) { m_budgetMs = cpuMs; }
    QList<IcalCalendarStore::FileMark> skippedFiles() const { return m_skipped.values(); }
    // The reader's process id while it runs (tests, benchmarks).
    qint64 readerPid() const { return m_reader.processId(); }

private:
    struct Request {
        QJsonObject message;
        std::function<void(QList<StoreEvent>)> done; // none for a calendars request
    };
    void enqueue(Request r) const;
    void sendNext() const;
    void startReader() const;
    void readOutput();
    void handle(const QJsonObject& m);
    void check();
    void readerLost(bool blame);
    // Answers every waiting request with nothing.
    void failAll();
    qint64 readerCpuMs() const;

    Defaults& m_defaults;
    QList<CalendarRoot> m_roots;
    QString m_program;
    int m_settleMs = 500;
    int m_budgetMs = kFileBudgetMs;

    mutable QProcess m_reader;
    mutable std::deque<Request> m_queue;
    mutable bool m_inFlight = false;
    mutable bool m_stale = true; // the calendar list must be asked for again
    mutable bool m_calendarsQueued = false;
    QByteArray m_output;
    QList<StoreCalendar> m_calendars;
    QJsonArray m_calendarsJson;
    QSet<IcalCalendarStore::FileMark> m_skipped;
    std::optional<IcalCalendarStore::FileMark> m_current; // the file the library works on
    qint64 m_currentCpuMs = 0;
    QElapsedTimer m_currentWall;
    mutable QElapsedTimer m_requestWall;
    QTimer m_watch;
    int m_blindLosses = 0; // readers lost with no file to blame, in a row
};
