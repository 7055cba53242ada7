// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/ical/icalstore.h"

#include "calendar/ical/icalparse.h"
#include "platform/defaults.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <strings.h>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace {
const QString kAccessKey = u"mivra.calendarAccess"_s;
// Larger files are not calendars anyone exported; they are left unread (and shown as skipped).
constexpr qint64 kMaxFileSize = kMaxCalendarFileBytes;
// A burst of changes is told once, after the folders are quiet, and at the latest after this long.
constexpr int kMaxSettleMs = 3000;
// Items written in place (not replaced, so their folder does not change) are seen within this time.
constexpr qint64 kRecheckMs = 5 * 60 * 1000;

QString dataHome() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + u"/.local/share"_s;
    return base;
}
QString configHome() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + u"/.config"_s;
    return base;
}

bool isIcsName(const QString& name) {
    return name.endsWith(u".ics"_s, Qt::CaseInsensitive);
}
bool isItemName(std::string_view name) {
    return name.size() >= 5 && ::strcasecmp(name.data() + name.size() - 4, ".ics") == 0;
}

// Opens a regular file only: a pipe would block the open itself, a device would never end.
bool openRegular(QFile& f, const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The first line of a small text file, trimmed; empty when it is missing.
QString firstLine(const QString& path) {
    QFile f;
    if (!openRegular(f, path)) return {};
    return QString::fromUtf8(f.read(4096)).section(u'\n', 0, 0).trimmed();
}

QColor colorFrom(QString text) {
    text = text.trimmed();
    if (text.size() == 9 && text.startsWith(u'#')) text.truncate(7); // "#RRGGBBAA"
    const QColor c(text);
    return c.isValid() ? c : QColor();
}

bool looksLikeAddress(const QString& s) {
    static const QRegularExpression re(uR"(^[^\s@]+@[^\s@]+\.[^\s@]+$)"_s);
    return re.match(s).hasMatch();
}

// The addresses of the `owner` file, one a line.
QStringList ownerFile(const QString& path) {
    QFile f;
    QStringList out;
    if (!openRegular(f, path)) return out;
    for (QString line : QString::fromUtf8(f.read(64 * 1024)).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u"mailto:"_s, Qt::CaseInsensitive)) line = line.mid(7);
        if (!line.isEmpty()) out << line.toLower();
    }
    return out;
}

// Entries of a folder by kind, sorted by name.
struct Listing {
    QStringList folders, files;
};
Listing list(const QString& path) {
    Listing out;
    const QDir dir(path);
    for (const QFileInfo& fi :
         dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (fi.fileName().startsWith(u'.')) continue;
        (fi.isDir() ? out.folders : out.files) << fi.fileName();
    }
    return out;
}

// Whether a folder is a calendar: it has its own name or colour, or an item, or nothing but files.
// A folder holding only folders is an account of calendars.
bool isCollection(const QString& path) {
    if (QFile::exists(path + u"/displayname"_s) || QFile::exists(path + u"/color"_s)) return true;
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir) return true;
    bool hasFolder = false, hasItem = false;
    while (dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name.startsWith(u'.')) continue;
        if (isIcsName(name)) {
            hasItem = true;
            break;
        }
        if (e->d_type == DT_DIR || (e->d_type == DT_UNKNOWN && QFileInfo(path + u'/' + name).isDir()))
            hasFolder = true;
    }
    ::closedir(dir);
    return hasItem || !hasFolder;
}

// Evolution keeps a calendar's name and colour in its source file.
void evolutionSource(const QString& uid, QString& title, QColor& color) {
    const QString dir = configHome() + u"/evolution/sources/"_s;
    QFile f;
    if (!openRegular(f, dir + (uid == u"system"_s ? u"system-calendar"_s : uid) + u".source"_s)) return;
    for (const QString& line : QString::fromUtf8(f.read(256 * 1024)).split(u'\n')) {
        if (line.startsWith(u"DisplayName="_s) && title.isEmpty())
            title = line.mid(12).trimmed();
        else if (line.startsWith(u"Color="_s) && !color.isValid())
            color = colorFrom(line.mid(6));
    }
}
} // namespace

struct IcalCalendarStore::Impl {
    struct FileEntry {
        qint64 size = -1;
        qint64 mtimeNs = -1;
        std::shared_ptr<const IcalFile> content;
        quint64 seen = 0;     // the scan that last found the file
        bool skipped = false; // left unread: too large, or it went over its budget before
    };
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    using FileMap = std::unordered_map<std::string, FileEntry, NameHash, std::equal_to<>>;
    struct Cal {
        StoreCalendar info;
        QString folder;    // the collection's folder, or the folder holding the plain file
        QString plainFile; // empty for a collection
        QString folderTitle;
        bool evolution = false;
        QStringList owners;
        FileMap files; // by file name as the file system spells it
        quint64 generation = 0;
        // Checking every item's size and time is skipped while the folder itself did not change,
        // nothing was told by the watcher and the last check is recent.
        qint64 folderMtimeNs = -1;
        QElapsedTimer sinceCheck;
        bool dirty = true;
        // While the folder is watched for the names of what changes in it, a check after a change
        // looks at the files named only; `whole` asks for every file to be checked once more.
        int watch = -1;
        dev_t watchDev = 0; // the folder watched (a folder moved or replaced is another one)
        ino_t watchIno = 0;
        bool whole = true;
        std::set<std::string> named;
        // The events of all files: single ones by start, series apart; updated when files change.
        // In order of start, then of file name, then as listed in the file.
        struct Single {
            qint64 start, end;
            const IcalEvent* event;
            const std::string* file;
            bool operator<(const Single& o) const {
                if (start != o.start) return start < o.start;
                if (file != o.file) return *file < *o.file;
                return std::less<const IcalEvent*>()(event, o.event);
            }
        };
        std::vector<Single> singles;
        struct Series {
            const IcalEvent* event;
            const std::string* file;
            qint64 size, mtimeNs;
        };
        std::vector<Series> series;
        qint64 longest = 0; // at least the length of the longest single event
        qsizetype skippedFiles = 0;
    };

    QList<CalendarRoot> roots;
    std::map<QString, Cal> cals;
    // Names what changes in the collections' folders (none when the system refuses).
    int names = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::map<int, QString> watched; // watch → folder
    QStringList order;
    QFileSystemWatcher watcher;
    QTimer settle;
    QElapsedTimer firstChange;
    QTimeZone local = QTimeZone::systemTimeZone();
    QByteArray localId = QTimeZone::systemTimeZoneId();
    qint64 parsed = 0;
    QSet<IcalCalendarStore::FileMark> skip;
    std::function<void(const IcalCalendarStore::FileMark&)> onFile;

    bool skipped(const QString& path, qint64 size, qint64 mtimeNs) const {
        return size > kMaxFileSize || skip.contains({path, size, mtimeNs});
    }

    std::shared_ptr<const IcalFile> read(const QString& path, qint64 size, qint64 mtimeNs) {
        ++parsed;
        if (skipped(path, size, mtimeNs)) return std::make_shared<IcalFile>();
        if (onFile) onFile({path, size, mtimeNs});
        QFile f;
        if (!openRegular(f, path)) return std::make_shared<IcalFile>();
        return std::make_shared<IcalFile>(parseIcal(f.read(kMaxFileSize), local));
    }

    // Floating times were placed in the local zone of their reading: a new zone reads them again.
    void followLocalZone() {
        const QByteArray id = QTimeZone::systemTimeZoneId();
        if (id == localId) return;
        localId = id;
        local = QTimeZone::systemTimeZone();
        for (auto& [_, cal] : cals) {
            cal.files.clear();
            cal.dirty = true;
            cal.whole = true;
        }
    }

    ~Impl() {
        if (names >= 0) ::close(names);
    }

    // Collects the names of the items changed since the last call, for the calendars of their
    // folders. A lost event (the queue overflowed) or a folder gone or moved has every file checked.
    void readNames() {
        if (names < 0) return;
        alignas(inotify_event) char buf[16384];
        for (;;) {
            const ssize_t n = ::read(names, buf, sizeof buf);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += ssize_t(sizeof(inotify_event) + e->len);
                const auto w = watched.find(e->wd);
                if (e->mask & IN_Q_OVERFLOW) {
                    for (auto& [_, cal] : cals)
                        cal.whole = true;
                    continue;
                }
                if (w == watched.end()) continue;
                const bool lost = e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT);
                for (auto& [_, cal] : cals) {
                    if (cal.watch != e->wd) continue;
                    if (lost)
                        unwatch(cal);
                    else if (e->len > 0)
                        cal.named.insert(std::string(e->name));
                }
                if (lost) {
                    if (!(e->mask & IN_IGNORED)) ::inotify_rm_watch(names, e->wd);
                    watched.erase(w);
                }
            }
        }
    }

    // Watches a collection's folder before its files are listed, so nothing changed after the
    // listing goes unnamed.
    void watchNames(Cal& cal) {
        if (names < 0 || cal.watch >= 0) return;
        const int wd =
            ::inotify_add_watch(names, QFile::encodeName(cal.folder).constData(),
                                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                    IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        struct stat st {};
        if (wd < 0 || ::stat(QFile::encodeName(cal.folder).constData(), &st) != 0) return;
        cal.watch = wd;
        cal.watchDev = st.st_dev;
        cal.watchIno = st.st_ino;
        watched[wd] = cal.folder;
    }

    // Stops trusting a folder's watch: every file is checked next, and the folder watched anew.
    static void unwatch(Cal& cal) {
        cal.watch = -1;
        cal.whole = true;
    }

    // Watches of folders that are no calendar any more.
    void unwatchGone() {
        for (auto it = watched.begin(); it != watched.end();) {
            const bool used = std::any_of(cals.begin(), cals.end(),
                                          [&](const auto& c) { return c.second.watch == it->first; });
            if (used) {
                ++it;
                continue;
            }
            ::inotify_rm_watch(names, it->first);
            it = watched.erase(it);
        }
    }

    // Brings a calendar's files up to date: only files whose size or modification time changed are
    // read again, files gone are forgotten.
    void sync(Cal& cal) {
        const QByteArray folder = QFile::encodeName(cal.folder);
        if (cal.plainFile.isEmpty()) {
            readNames();
            if (cal.watch >= 0) {
                // The folder at the path may be another one now (moved, replaced, a link re-pointed).
                struct stat st {};
                if (::stat(folder.constData(), &st) != 0 || st.st_dev != cal.watchDev ||
                    st.st_ino != cal.watchIno)
                    unwatch(cal);
            }
            if (cal.watch >= 0 && !cal.whole && cal.sinceCheck.isValid() &&
                cal.sinceCheck.elapsed() < kRecheckMs && syncNamed(cal, folder))
                return;
            const bool whole = std::exchange(cal.whole, false);
            watchNames(cal);
            cal.named.clear();
            struct stat st {};
            const qint64 mtime = ::stat(folder.constData(), &st) == 0
                                     ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec
                                     : -2;
            if (!whole && !cal.dirty && mtime == cal.folderMtimeNs && cal.sinceCheck.isValid() &&
                cal.sinceCheck.elapsed() < kRecheckMs)
                return;
            cal.folderMtimeNs = mtime;
            cal.sinceCheck.start();
            cal.dirty = false;
        }
        const quint64 generation = ++cal.generation;
        bool changedSet = false;
        auto check = [&](std::string_view name, const struct stat& st) {
            changedSet = checkFile(cal, name, st, generation) || changedSet;
        };
        if (!cal.plainFile.isEmpty()) {
            const QByteArray name = QFile::encodeName(cal.plainFile);
            struct stat st {};
            const QByteArray path = folder + '/' + name;
            if (::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
                check(std::string_view(name.constData(), size_t(name.size())), st);
        } else if (DIR* dir = ::opendir(folder.constData())) {
            const int fd = ::dirfd(dir);
            while (dirent* ent = ::readdir(dir)) {
                const std::string_view name(ent->d_name);
                if (!isItemName(name)) continue;
                struct stat st {};
                if (::fstatat(fd, ent->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
                check(name, st);
            }
            ::closedir(dir);
        }
        for (auto it = cal.files.begin(); it != cal.files.end();) {
            if (it->second.seen == generation) {
                ++it;
            } else {
                it = cal.files.erase(it);
                changedSet = true;
            }
        }
        if (changedSet) index(cal);
    }

    // Re-reads a file when it is new or its size or modification time changed; true when the
    // calendar's set of files or their content changed.
    bool checkFile(Cal& cal, std::string_view name, const struct stat& st, quint64 generation) {
        bool changedSet = false;
        const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        auto it = cal.files.find(name);
        if (it == cal.files.end()) {
            it = cal.files.emplace(std::string(name), FileEntry{}).first;
            changedSet = true;
        }
        FileEntry& e = it->second;
        e.seen = generation;
        const QString path =
            cal.folder + u'/' + QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
        const bool skip = skipped(path, st.st_size, mtime);
        if (!e.content || e.size != st.st_size || e.mtimeNs != mtime || skip != e.skipped) {
            e.size = st.st_size;
            e.mtimeNs = mtime;
            e.skipped = skip;
            e.content = read(path, st.st_size, mtime);
            changedSet = true;
        }
        return changedSet;
    }

    // Checks only the files named since the last check; false when the folder cannot be opened.
    bool syncNamed(Cal& cal, const QByteArray& folder) {
        if (cal.named.empty()) return true;
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        std::vector<std::shared_ptr<const IcalFile>> former; // kept until their events left the lists
        std::vector<const std::string*> now;
        for (const std::string& name : cal.named) {
            if (!isItemName(name)) continue;
            auto it = cal.files.find(name);
            std::shared_ptr<const IcalFile> was;
            if (it != cal.files.end()) {
                was = it->second.content;
                cal.skippedFiles -= it->second.skipped;
            }
            struct stat st {};
            if (::fstatat(fd, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode)) {
                const bool changed = checkFile(cal, name, st, cal.generation);
                it = cal.files.find(name);
                cal.skippedFiles += it->second.skipped;
                if (!changed) continue;
                now.push_back(&it->first);
            } else if (it != cal.files.end()) {
                cal.files.erase(it);
            }
            if (was) former.push_back(std::move(was));
        }
        ::close(fd);
        cal.named.clear();
        if (!former.empty() || !now.empty()) reindex(cal, former, now);
        return true;
    }

    static bool seriesBefore(const Cal::Series& a, const Cal::Series& b) {
        if (a.file != b.file) return *a.file < *b.file;
        return std::less<const IcalEvent*>()(a.event, b.event);
    }

    // Adds a file's events to the calendar's lists, unsorted; false when it has none.
    static bool collect(Cal& cal, const std::string& name, const FileEntry& entry,
                        std::vector<Cal::Single>& singles, std::vector<Cal::Series>& series) {
        if (!entry.content || entry.content->events.empty()) return false;
        for (const IcalEvent& e : entry.content->events) {
            if (e.recurrence) {
                series.push_back({&e, &name, entry.size, entry.mtimeNs});
            } else {
                singles.push_back({e.startMs, e.endMs, &e, &name});
                cal.longest = std::max(cal.longest, e.endMs - e.startMs);
            }
        }
        return true;
    }

    void index(Cal& cal) {
        cal.singles.clear();
        cal.series.clear();
        cal.longest = 0;
        cal.skippedFiles = 0;
        for (const auto& [name, entry] : cal.files) {
            collect(cal, name, entry, cal.singles, cal.series);
            cal.skippedFiles += entry.skipped;
        }
        std::sort(cal.singles.begin(), cal.singles.end());
        std::sort(cal.series.begin(), cal.series.end(), seriesBefore);
    }

    // After a few files changed: the events of their former content leave the lists, those of
    // the files now there are merged in. Work in proportion to the change, but for moving the
    // lists' entries along.
    void reindex(Cal& cal, const std::vector<std::shared_ptr<const IcalFile>>& former,
                 const std::vector<const std::string*>& now) {
        constexpr size_t kFew = 16;
        if (former.size() > kFew || now.size() > kFew) return index(cal);
        const auto wasIn = [&](const IcalEvent* e) {
            const std::less<const IcalEvent*> less;
            return std::any_of(former.begin(), former.end(), [&](const auto& f) {
                return !f->events.empty() && !less(e, f->events.data()) &&
                       less(e, f->events.data() + f->events.size());
            });
        };
        if (std::any_of(former.begin(), former.end(), [](const auto& f) { return !f->events.empty(); })) {
            std::erase_if(cal.singles, [&](const Cal::Single& s) { return wasIn(s.event); });
            std::erase_if(cal.series, [&](const Cal::Series& s) { return wasIn(s.event); });
        }
        std::vector<Cal::Single> singles;
        std::vector<Cal::Series> series;
        for (const std::string* name : now)
            collect(cal, *name, cal.files.find(*name)->second, singles, series);
        std::sort(singles.begin(), singles.end());
        const auto mid = cal.singles.insert(cal.singles.end(), singles.begin(), singles.end());
        std::inplace_merge(cal.singles.begin(), mid, cal.singles.end());
        for (const Cal::Series& s : series)
            cal.series.insert(std::upper_bound(cal.series.begin(), cal.series.end(), s, seriesBefore), s);
    }

    // One calendar found by the scan; an earlier one with the same identifier keeps its files.
    Cal& found(std::map<QString, Cal>& next, const QString& id, const QString& folder,
               const QString& plainFile) {
        auto old = cals.find(id);
        Cal cal;
        if (old != cals.end() && old->second.folder == folder && old->second.plainFile == plainFile)
            cal = std::move(old->second);
        cal.info.id = id;
        cal.folder = folder;
        cal.plainFile = plainFile;
        order << id;
        return next[id] = std::move(cal);
    }

    void describeCollection(Cal& cal, const QString& name, const QString& source) {
        cal.info.title = firstLine(cal.folder + u"/displayname"_s);
        if (cal.info.title.isEmpty()) cal.info.title = name;
        cal.info.color = colorFrom(firstLine(cal.folder + u"/color"_s));
        cal.info.source = source;
    }

    void describePlain(Cal& cal, const QString& fallbackTitle, const QString& source) {
        sync(cal);
        const auto it = cal.files.begin();
        const std::shared_ptr<const IcalFile> content = it == cal.files.end() ? nullptr : it->second.content;
        QString title;
        QColor color;
        if (cal.evolution) evolutionSource(QFileInfo(cal.folder).fileName(), title, color);
        if (title.isEmpty() && content) title = content->calendarName;
        if (!color.isValid() && content) color = content->color;
        cal.info.title = title.isEmpty() ? fallbackTitle : title;
        cal.info.color = color;
        cal.info.source = source;
    }

    void scan() {
        std::map<QString, Cal> next;
        order.clear();
        for (const CalendarRoot& root : roots) {
            if (!QFileInfo(root.path).isDir()) continue;
            const Listing top = list(root.path);
            if (root.evolution) {
                for (const QString& name : top.folders) {
                    const QString folder = root.path + u'/' + name;
                    if (!QFileInfo::exists(folder + u"/calendar.ics"_s)) continue;
                    Cal& cal =
                        found(next, root.key + u':' + name + u"/calendar.ics"_s, folder, u"calendar.ics"_s);
                    cal.evolution = true;
                    describePlain(cal, name, root.source);
                }
                continue;
            }
            for (const QString& name : top.folders) {
                const QString folder = root.path + u'/' + name;
                if (isCollection(folder)) {
                    describeCollection(found(next, root.key + u':' + name, folder, {}), name, root.source);
                    continue;
                }
                for (const QString& sub : list(folder).folders)
                    // NOLINTNEXTLINE(readability-suspicious-call-argument): the inner folder is the calendar
                    describeCollection(
                        found(next, root.key + u':' + name + u'/' + sub, folder + u'/' + sub, {}), sub, name);
            }
            for (const QString& name : top.files) {
                if (!isIcsName(name)) continue;
                describePlain(found(next, root.key + u':' + name, root.path, name),
                              QFileInfo(name).completeBaseName(), root.source);
            }
        }
        for (auto& [_, cal] : next) {
            cal.owners = ownerFile(cal.folder + u"/owner"_s);
            if (cal.owners.isEmpty() && looksLikeAddress(cal.info.title))
                cal.owners = {cal.info.title.toLower()};
        }
        cals = std::move(next);
        unwatchGone();
        watch();
    }

    // Watches every root (or the folder it will appear in), account, collection and plain file.
    void watch() {
        QSet<QString> wanted;
        for (const CalendarRoot& root : roots) {
            QString p = root.path;
            while (!QFileInfo(p).isDir() && p.count(u'/') > 1 && p != QDir::homePath())
                p = QFileInfo(p).path();
            if (QFileInfo(p).isDir()) wanted.insert(p);
        }
        for (const auto& [_, cal] : cals) {
            wanted.insert(cal.folder);
            if (cal.plainFile.isEmpty())
                wanted.insert(QFileInfo(cal.folder).path()); // an account
            else
                wanted.insert(cal.folder + u'/' + cal.plainFile);
        }
        QSet<QString> have;
        for (const QString& p : watcher.files() + watcher.directories())
            have.insert(p);
        QStringList add, remove;
        for (const QString& p : wanted)
            if (!have.contains(p) && QFileInfo::exists(p)) add << p;
        for (const QString& p : have)
            if (!wanted.contains(p)) remove << p;
        if (!remove.isEmpty()) watcher.removePaths(remove);
        if (!add.isEmpty()) watcher.addPaths(add);
    }
};

QList<CalendarRoot> IcalCalendarStore::defaultRoots() {
    const QString data = dataHome();
    return {
        {data + u"/Mivra/calendars"_s, u"mivra"_s, u"Mivra"_s, false},
        {data + u"/calendars"_s, u"calendars"_s, u"calendars"_s, false},
        {QDir::homePath() + u"/.calendars"_s, u"home"_s, u".calendars"_s, false},
        {data + u"/evolution/calendar"_s, u"evolution"_s, u"Evolution"_s, true},
    };
}

IcalCalendarStore::IcalCalendarStore(Defaults& defaults, QObject* parent)
    : IcalCalendarStore(defaults, defaultRoots(), parent) {}

IcalCalendarStore::IcalCalendarStore(Defaults& defaults, QList<CalendarRoot> roots, QObject* parent)
    : CalendarStore(parent), d(std::make_unique<Impl>()), m_defaults(defaults) {
    d->roots = std::move(roots);
    d->settle.setSingleShot(true);
    d->settle.setInterval(500);
    connect(&d->settle, &QTimer::timeout, this, [this] {
        d->firstChange.invalidate();
        emit changed();
    });
    const auto changedOnDisk = [this] {
        for (auto& [_, cal] : d->cals)
            cal.dirty = true;
        if (!d->firstChange.isValid()) d->firstChange.start();
        // Quiet folders are told after the settle time; a stream of changes at the latest after
        // kMaxSettleMs, so a sync tool writing for minutes still shows its progress.
        if (!d->settle.isActive() || d->firstChange.elapsed() < kMaxSettleMs - d->settle.interval())
            d->settle.start();
    };
    connect(&d->watcher, &QFileSystemWatcher::directoryChanged, this, changedOnDisk);
    connect(&d->watcher, &QFileSystemWatcher::fileChanged, this, changedOnDisk);
    openFolder = [](const QUrl& url) {
        if (QDesktopServices::openUrl(url)) return true;
        return QProcess::startDetached(u"xdg-open"_s, {url.toLocalFile()});
    };
    d->watch();
}

IcalCalendarStore::~IcalCalendarStore() = default;

QString IcalCalendarStore::dropFolder() const {
    return d->roots.isEmpty() ? QString() : d->roots.first().path;
}

void IcalCalendarStore::setSettleTime(int ms) {
    d->settle.setInterval(ms);
}

qint64 IcalCalendarStore::filesParsed() const {
    return d->parsed;
}

void IcalCalendarStore::setOnFile(std::function<void(const FileMark&)> told) {
    d->onFile = std::move(told);
}

void IcalCalendarStore::skipFile(const FileMark& file) {
    d->skip.insert(file);
    for (auto& [_, cal] : d->cals)
        cal.whole = true;
}

CalendarAccess IcalCalendarStore::storedAccess(const Defaults& defaults) {
    return calendarAccessFromNumber(defaults.integer(kAccessKey));
}

void IcalCalendarStore::grantAccess(Defaults& defaults) {
    // The person's own consent, given in the popover.
    defaults.setValue(kAccessKey, int(CalendarAccess::fullAccess));
}

CalendarAccess IcalCalendarStore::authorizationStatus() const {
    return storedAccess(m_defaults);
}

void IcalCalendarStore::requestAccess(std::function<void(bool)> done) {
    grantAccess(m_defaults);
    done(true);
}

QList<StoreCalendar> IcalCalendarStore::calendars() const {
    d->followLocalZone();
    d->scan();
    QList<StoreCalendar> out;
    for (const QString& id : d->order) {
        const Impl::Cal& cal = d->cals.at(id);
        StoreCalendar c = cal.info;
        if (cal.skippedFiles > 0)
            for (const auto& [name, entry] : cal.files)
                if (entry.skipped) c.skipped << QFile::decodeName(QByteArray::fromStdString(name));
        c.skipped.sort();
        out.append(std::move(c));
    }
    return out;
}

void IcalCalendarStore::events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                               std::function<void(QList<StoreEvent>)> done) {
    d->followLocalZone();
    const qint64 fromMs = from.toMSecsSinceEpoch(), toMs = to.toMSecsSinceEpoch();
    QList<StoreEvent> out;
    for (const QString& id : calendarIds) {
        auto it = d->cals.find(id);
        if (it == d->cals.end()) continue;
        Impl::Cal& cal = it->second;
        d->sync(cal);
        auto emitOne = [&](const IcalEvent& e, qint64 start, qint64 end) {
            StoreEvent s;
            s.id = e.uid;
            s.calendarId = id;
            s.title = e.title;
            s.start = QDateTime::fromMSecsSinceEpoch(start, QTimeZone::utc());
            s.end = QDateTime::fromMSecsSinceEpoch(end, QTimeZone::utc());
            s.allDay = e.allDay;
            s.cancelled = e.cancelled;
            s.participation = e.attendees.isEmpty() ? Participation::none : e.participationOf(cal.owners);
            s.url = e.url;
            s.location = e.location;
            s.notes = e.notes;
            out.append(std::move(s));
        };
        // Single events that may overlap: those starting before the end and no longer ago than the
        // longest event lasts.
        const qint64 earliest = fromMs - std::min(cal.longest, fromMs - INT64_MIN / 2);
        auto first = std::lower_bound(cal.singles.begin(), cal.singles.end(), earliest,
                                      [](const Impl::Cal::Single& s, qint64 t) { return s.start < t; });
        for (auto it = first; it != cal.singles.end() && it->start < toMs; ++it) {
            const bool overlaps = it->end > fromMs || (it->end == it->start && it->start >= fromMs);
            if (overlaps) emitOne(*it->event, it->start, it->end);
        }
        const std::string* told = nullptr;
        for (const Impl::Cal::Series& s : cal.series) {
            // A series is expanded by the calendar library: the file it came from is told first.
            if (d->onFile && s.file != told) {
                told = s.file;
                d->onFile({cal.folder + u'/' + QFile::decodeName(QByteArray::fromStdString(*s.file)), s.size,
                           s.mtimeNs});
            }
            s.event->occurrences(fromMs, toMs,
                                 [&](qint64 start, qint64 end) { emitOne(*s.event, start, end); });
        }
    }
    done(std::move(out));
}

void IcalCalendarStore::openSettings() {
    const QString folder = dropFolder();
    if (folder.isEmpty()) return;
    QDir().mkpath(folder);
    d->watch();
    if (openFolder) openFolder(QUrl::fromLocalFile(folder));
}
