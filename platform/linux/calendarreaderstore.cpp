// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/calendarreaderstore.h"

#include "calendar/ical/calendarwire.h"
#include "platform/defaults.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString kReaderName = u"mivra-calendar-reader"_s;
// A file that blocks without spending processor time (a stalled network folder) is given up after
// this long; so is a request that names no file (listing the folders).
constexpr qint64 kFileWallMs = 60 * 1000;
constexpr qint64 kRequestWallMs = 120 * 1000;
// Readers lost with no file to blame before the requests are answered empty.
constexpr int kMaxBlindLosses = 3;
} // namespace

CalendarReaderStore::CalendarReaderStore(Defaults& defaults, QList<CalendarRoot> roots, QString program,
                                         QObject* parent)
    : CalendarStore(parent), m_defaults(defaults), m_roots(std::move(roots)),
      m_program(program.isEmpty() ? defaultProgram() : std::move(program)) {
    m_watch.setInterval(100);
    connect(&m_watch, &QTimer::timeout, this, &CalendarReaderStore::check);
    m_reader.setStandardErrorFile(QProcess::nullDevice());
    m_reader.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    connect(&m_reader, &QProcess::readyReadStandardOutput, this, &CalendarReaderStore::readOutput);
    connect(&m_reader, &QProcess::finished, this, [this] {
        if (m_inFlight) readerLost(true);
    });
    connect(&m_reader, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart && m_inFlight) readerLost(false);
    });
    openFolder = [](const QUrl& url) {
        if (QDesktopServices::openUrl(url)) return true;
        return QProcess::startDetached(u"xdg-open"_s, {url.toLocalFile()});
    };
}

CalendarReaderStore::~CalendarReaderStore() {
    m_reader.disconnect(this);
    if (m_reader.state() != QProcess::NotRunning) {
        m_reader.kill();
        m_reader.waitForFinished(2000);
    }
}

QString CalendarReaderStore::defaultProgram() {
    QString beside = QCoreApplication::applicationDirPath() + u'/' + kReaderName;
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStringLiteral(MIVRA_LIBEXEC_DIR) + u'/' + kReaderName;
}

CalendarAccess CalendarReaderStore::authorizationStatus() const {
    return IcalCalendarStore::storedAccess(m_defaults);
}

void CalendarReaderStore::requestAccess(std::function<void(bool)> done) {
    IcalCalendarStore::grantAccess(m_defaults);
    done(true);
}

QList<StoreCalendar> CalendarReaderStore::calendars() const {
    if (!m_calendarsQueued) {
        m_calendarsQueued = true;
        enqueue({{{u"op"_s, u"calendars"_s}}, {}});
    }
    return m_calendars;
}

void CalendarReaderStore::events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                                 std::function<void(QList<StoreEvent>)> done) {
    enqueue({{{u"op"_s, u"events"_s},
              {u"ids"_s, QJsonArray::fromStringList(calendarIds)},
              {u"from"_s, QString::number(from.toMSecsSinceEpoch())},
              {u"to"_s, QString::number(to.toMSecsSinceEpoch())}},
             done ? std::move(done) : [](const QList<StoreEvent>&) {}});
}

void CalendarReaderStore::openSettings() {
    const QString folder = m_roots.isEmpty() ? QString() : m_roots.first().path;
    if (folder.isEmpty()) return;
    QDir().mkpath(folder);
    if (openFolder) openFolder(QUrl::fromLocalFile(folder));
}

void CalendarReaderStore::enqueue(Request r) const {
    m_queue.push_back(std::move(r));
    // Sent from the event loop: a caller never waits, and an answer never comes before the call returns.
    QMetaObject::invokeMethod(
        const_cast<CalendarReaderStore*>(this), [this] { sendNext(); }, Qt::QueuedConnection);
}

void CalendarReaderStore::startReader() const {
    if (m_reader.state() != QProcess::NotRunning) return;
    m_reader.start(m_program, {});
    QJsonArray roots, skip;
    for (const CalendarRoot& r : m_roots)
        roots.append(CalendarWire::rootJson(r));
    for (const auto& f : m_skipped)
        skip.append(CalendarWire::fileJson(f));
    m_reader.write(CalendarWire::line(
        {{u"op"_s, u"setup"_s}, {u"roots"_s, roots}, {u"settleMs"_s, m_settleMs}, {u"skip"_s, skip}}));
}

void CalendarReaderStore::sendNext() const {
    if (m_inFlight || m_queue.empty()) return;
    auto* self = const_cast<CalendarReaderStore*>(this);
    if (!QFileInfo(m_program).isExecutable()) {
        // Without its reader Mivra shows no calendar files rather than read them itself.
        self->failAll();
        return;
    }
    startReader();
    m_inFlight = true;
    m_requestWall.start();
    self->m_current.reset();
    m_reader.write(CalendarWire::line(m_queue.front().message));
    self->m_watch.start();
}

void CalendarReaderStore::readOutput() {
    m_output += m_reader.readAllStandardOutput();
    qsizetype end;
    while (m_inFlight && (end = m_output.indexOf('\n')) >= 0) {
        const QJsonObject m = QJsonDocument::fromJson(m_output.left(end)).object();
        m_output.remove(0, end + 1);
        handle(m);
    }
    // A change told while nothing is asked for.
    while (!m_inFlight && (end = m_output.indexOf('\n')) >= 0) {
        const QJsonObject m = QJsonDocument::fromJson(m_output.left(end)).object();
        m_output.remove(0, end + 1);
        if (m.contains(u"changed"_s)) emit changed();
    }
}

void CalendarReaderStore::handle(const QJsonObject& m) {
    if (m.contains(u"file"_s)) {
        m_current = CalendarWire::fileFrom(m.value(u"file"_s).toObject());
        m_currentCpuMs = readerCpuMs();
        m_currentWall.start();
        return;
    }
    if (m.contains(u"changed"_s)) {
        emit changed();
        return;
    }
    if (m_queue.empty()) return;
    Request r = std::move(m_queue.front());
    m_queue.pop_front();
    m_inFlight = false;
    m_current.reset();
    m_blindLosses = 0;
    m_watch.stop();
    bool listChanged = false;
    if (m.contains(u"calendars"_s)) {
        m_calendarsQueued = false;
        const QJsonArray list = m.value(u"calendars"_s).toArray();
        if (list != m_calendarsJson) {
            m_calendarsJson = list;
            m_calendars.clear();
            for (const QJsonValue v : list)
                m_calendars << CalendarWire::calendarFrom(v.toObject());
            listChanged = true;
        }
    }
    QList<StoreEvent> events;
    for (const QJsonValue v : m.value(u"events"_s).toArray())
        events << CalendarWire::eventFrom(v.toObject());
    sendNext();
    if (r.done) r.done(std::move(events));
    if (listChanged) emit changed();
}

void CalendarReaderStore::failAll() {
    std::deque<Request> failed;
    failed.swap(m_queue);
    m_calendarsQueued = false;
    for (Request& r : failed)
        if (r.done) r.done({});
}

qint64 CalendarReaderStore::readerCpuMs() const {
    QFile f(u"/proc/"_s + QString::number(m_reader.processId()) + u"/stat"_s);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = f.read(4096);
    // The fields after the command name, which ends at the last ')': utime and stime are 14 and 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
}

void CalendarReaderStore::check() {
    if (!m_inFlight) {
        m_watch.stop();
        return;
    }
    if (m_current) {
        if (readerCpuMs() - m_currentCpuMs > m_budgetMs || m_currentWall.elapsed() > kFileWallMs)
            readerLost(true);
    } else if (m_requestWall.elapsed() > kRequestWallMs) {
        readerLost(false);
    }
}

void CalendarReaderStore::readerLost(bool blame) {
    blame = blame && m_current;
    if (blame) {
        // The file in the library's hands when the reader went over its budget or died is left
        // unread from now on; its calendar lists it.
        m_skipped.insert(*m_current);
        m_blindLosses = 0;
    } else {
        ++m_blindLosses;
    }
    m_current.reset();
    m_inFlight = false;
    m_watch.stop();
    {
        const QSignalBlocker quiet(m_reader);
        if (m_reader.state() != QProcess::NotRunning) {
            m_reader.kill();
            m_reader.waitForFinished(5000);
        }
    }
    m_output.clear();
    if (m_blindLosses >= kMaxBlindLosses) {
        m_blindLosses = 0;
        failAll();
        return;
    }
    // The request is asked again of a new reader, which leaves the skipped files unread.
    sendNext();
    if (blame) emit changed(); // the calendar of the skipped file now says so
}
