// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/calendarstore.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class Defaults;

// A folder that holds calendars. Under it, a folder is a calendar in the vdir layout (one .ics file
// per item, optional `displayname`, `color` and `owner` files); a folder holding only such folders is
// an account whose calendars they are; a plain .ics file is a calendar of its own. Evolution's root
// holds one folder per calendar with its items in `calendar.ics`.
struct CalendarRoot {
    QString path;
    QString key;    // first part of the identifiers of its calendars: "mivra:work"
    QString source; // the source title of its calendars
    bool evolution = false;
};

// Calendar files larger than this are left unread and shown as skipped.
constexpr qint64 kMaxCalendarFileBytes = 32LL * 1024 * 1024;

// Calendars from iCalendar files: vdir collections and plain .ics files under the calendar roots.
// Access is the person's own consent, kept under the defaults key "mivra.calendarAccess".
class IcalCalendarStore final : public CalendarStore {
    Q_OBJECT
public:
    // The roots of the person's home: ~/.local/share/Mivra/calendars, ~/.local/share/calendars,
    // ~/.calendars and Evolution's local calendars.
    explicit IcalCalendarStore(Defaults& defaults, QObject* parent = nullptr);
    IcalCalendarStore(Defaults& defaults, QList<CalendarRoot> roots, QObject* parent = nullptr);
    ~IcalCalendarStore() override;

    static QList<CalendarRoot> defaultRoots();
    // The folder where a person drops .ics exports (the first root).
    QString dropFolder() const;

    // The person's consent to read calendar files, kept in the defaults; every store of calendar
    // files (this one, the reader process's) answers from the same key.
    static CalendarAccess storedAccess(const Defaults& defaults);
    static void grantAccess(Defaults& defaults);

    CalendarAccess authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> done) override;
    QList<StoreCalendar> calendars() const override;
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override;
    void openSettings() override;

    // Opens a folder for the person; the desktop's file manager unless replaced (tests do).
    std::function<bool(const QUrl&)> openFolder;
    // How long the folders must stay quiet after a change before it is told (milliseconds).
    void setSettleTime(int ms);
    // Files read and parsed so far, for the curious (benchmarks, tests).
    qint64 filesParsed() const;

    // A file as it was when it was read: a new size or time makes it another file.
    struct FileMark {
        QString path;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        bool operator==(const FileMark&) const = default;
        friend size_t qHash(const FileMark& f, size_t seed = 0) {
            return qHashMulti(seed, f.path, f.size, f.mtimeNs);
        }
    };
    // Told before the calendar library reads a file or expands the series of one.
    void setOnFile(std::function<void(const FileMark&)> told);
    // Leaves a file unread from now on, for as long as it keeps its size and time; its calendar
    // lists it among its skipped files.
    void skipFile(const FileMark& file);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    Defaults& m_defaults;
};
