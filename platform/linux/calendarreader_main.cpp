// SPDX-License-Identifier: GPL-3.0-or-later
// mivra-calendar-reader: reads the calendar files for Mivra, in a process of its own so that no
// file can stop Mivra's clock. Mivra gives each file a budget and ends this process when one goes
// over it; see calendarwire.h for what is said on standard input and output.
#include "calendar/ical/calendarwire.h"
#include "calendar/ical/icalstore.h"
#include "platform/defaults.h"
#include "platform/linux/calendarreaderstore.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimeZone>

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// Access was given in Mivra; this process only reads.
class Granted final : public Defaults {
public:
    bool contains(const QString&) const override { return true; }
    QVariant value(const QString&) const override { return 3; }
    void setValue(const QString&, const QVariant&) override {}
};

void say(const QJsonObject& o) {
    const QByteArray text = CalendarWire::line(o);
    for (qsizetype done = 0; done < text.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ::_exit(0); // Mivra has gone
        done += n;
    }
}

class Reader : public QObject {
public:
    Reader() : m_input(STDIN_FILENO, QSocketNotifier::Read) {
        connect(&m_input, &QSocketNotifier::activated, this, &Reader::readInput);
    }

private:
    void readInput() {
        char chunk[65536];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) QCoreApplication::exit(0);
        if (n <= 0) return;
        m_buffer.append(chunk, n);
        for (qsizetype end; (end = m_buffer.indexOf('\n')) >= 0;) {
            const QByteArray text = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            handle(QJsonDocument::fromJson(text).object());
        }
    }

    void handle(const QJsonObject& m) {
        const QString op = m.value(u"op"_s).toString();
        if (op == u"setup") {
            QList<CalendarRoot> roots;
            for (const QJsonValue v : m.value(u"roots"_s).toArray())
                roots << CalendarWire::rootFrom(v.toObject());
            m_store = std::make_unique<IcalCalendarStore>(m_defaults, roots);
            m_store->setSettleTime(m.value(u"settleMs"_s).toInt(500));
            m_store->setOnFile([](const IcalCalendarStore::FileMark& f) {
                say({{u"file"_s, CalendarWire::fileJson(f)}});
            });
            for (const QJsonValue v : m.value(u"skip"_s).toArray())
                m_store->skipFile(CalendarWire::fileFrom(v.toObject()));
            connect(m_store.get(), &CalendarStore::changed, this, [] { say({{u"changed"_s, true}}); });
            return;
        }
        if (!m_store) return;
        if (op == u"skip") {
            m_store->skipFile(CalendarWire::fileFrom(m.value(u"file"_s).toObject()));
        } else if (op == u"calendars") {
            m_scanned = true;
            QJsonArray out;
            for (const StoreCalendar& c : m_store->calendars())
                out.append(CalendarWire::calendarJson(c));
            say({{u"calendars"_s, out}});
        } else if (op == u"events") {
            // A reader started again after one was ended finds its calendars before reading them.
            if (!m_scanned) {
                m_store->calendars();
                m_scanned = true;
            }
            QStringList ids;
            for (const QJsonValue v : m.value(u"ids"_s).toArray())
                ids << v.toString();
            const auto ms = [&](const char16_t* key) {
                return QDateTime::fromMSecsSinceEpoch(
                    m.value(QString::fromUtf16(key)).toString().toLongLong(), QTimeZone::utc());
            };
            m_store->events(ids, ms(u"from"), ms(u"to"), [](const QList<StoreEvent>& events) {
                QJsonArray out;
                for (const StoreEvent& e : events)
                    out.append(CalendarWire::eventJson(e));
                say({{u"events"_s, out}});
            });
        }
    }

    QSocketNotifier m_input;
    QByteArray m_buffer;
    Granted m_defaults;
    std::unique_ptr<IcalCalendarStore> m_store;
    bool m_scanned = false;
};
} // namespace

int main(int argc, char** argv) {
    // The memory of this process is bounded whatever the files hold: a file that needs more ends
    // it, and Mivra skips that file from then on. AddressSanitizer reserves terabytes of address
    // space for itself before this runs, so a build under it (tests only) goes without the bound.
#ifndef __SANITIZE_ADDRESS__
    const rlimit memory{rlim_t(kCalendarReaderMemoryBytes), rlim_t(kCalendarReaderMemoryBytes)};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    QCoreApplication app(argc, argv);
    Reader reader;
    return QCoreApplication::exec();
}
