// SPDX-License-Identifier: GPL-3.0-or-later
// The four JSON stores: first launch, key-by-key and strict list fallbacks, keeping bad files aside,
// the limits of a file, atomic writes, the canonical text and the site-list parser.
#include "engine/stores.h"
#include "fakes/enginerig.h"

#include <QMetaProperty>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
Json parse(const QByteArray& bytes) {
    return Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
}
QByteArray nested(int depth) {
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}
// A stored schedule whose lock (and anything after it) is `tail`.
QByteArray schedule(const char* id, const char* tail) {
    return R"({"id": ")" + QByteArray(id) +
           R"(", "enabled": true, "weekdays": [2], "startHour": 9, "startMinute": 0, "durationMin": 25, "lockGate": true, )" +
           tail + "}";
}
const char* const kId = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const QString kSettings = u"settings.json"_s, kLockups = u"lockups.json"_s, kSchedules = u"schedules.json"_s,
              kHistory = u"history.json"_s;
ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
}
// While it lives, no file can grow beyond `bytes`: writes fail as they do on a full disk, for root too.
struct FileSizeLimit {
    rlimit before{};
    void (*handler)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit now = before;
        now.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &now);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, handler);
    }
};
// Moves every property of a record off its default value.
template <class R> void awayFromDefaults(R& r) {
    const QMetaObject& meta = R::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty p = meta.property(i);
        QVariant v = p.readOnGadget(&r);
        switch (v.typeId()) {
        case QMetaType::Bool:
            v = !v.toBool();
            break;
        case QMetaType::LongLong:
            v = v.toLongLong() + 1;
            break;
        case QMetaType::QString:
            v = QString(v.toString() + u'x');
            break;
        case QMetaType::QStringList:
            v = v.toStringList() << u"x"_s;
            break;
        default:
            ADD_FAILURE() << "no other value for " << p.name();
        }
        ASSERT_TRUE(p.writeOnGadget(&r, v)) << p.name();
    }
}
} // namespace

TEST(Stores, FirstLaunchSeedsInTheInterfaceLanguageAndWritesAllFourFiles) {
    for (Lang lang : {Lang::en, Lang::fr}) {
        EngineRig rig;
        TimerModel& e = rig.start(lang);
        ASSERT_EQ(e.lockups().size(), 2);
        const Lockup &usual = e.lockups()[0], &news = e.lockups()[1];
        EXPECT_EQ(usual.name, lang == Lang::en ? u"The usual suspects"_s : u"Les suspects habituels"_s);
        EXPECT_EQ(news.name, lang == Lang::en ? u"Newsroom blackout"_s : u"Blackout salle de nouvelles"_s);
        EXPECT_EQ(
            (QList<qsizetype>{usual.sites.size(), news.sites.size(), usual.apps.size(), news.apps.size()}),
            (QList<qsizetype>{25, 15, 3, 0}));
        EXPECT_NE(usual.id, news.id);
        // Every seeded site is already what the site parser would make of it.
        for (const Lockup& l : e.lockups())
            for (const QString& s : l.sites)
                EXPECT_EQ(parseSiteList(s), QStringList{s});
        EXPECT_EQ(e.settings().activeLockupID, usual.id);
        EXPECT_EQ(parse(rig.readData(kSettings))["activeLockupID"], uuidText(usual.id).toStdString());
        EXPECT_EQ(parse(rig.readData(kSchedules)), Json::array());
        EXPECT_EQ(parse(rig.readData(kLockups)).size(), 2u);
        EXPECT_EQ(parse(rig.readData(kHistory)).size(), 1u);
        EXPECT_TRUE(QDir(rig.dataDir()).entryList({u"*.corrupt-*"_s}).isEmpty());
    }
}

TEST(Stores, SettingsFallBackKeyByKeyAndWhatCannotBeReadIsKeptAside) {
    struct Case {
        QByteArray text;
        std::function<void(Settings&)> expected;
        bool keptAside;
    };
    const auto defaults = [](Settings&) {};
    const QList<Case> cases = {
        {R"({"focusMin": "fifty", "reel": 6, "soundOn": false, "futureKey": [1, 2]})",
         [](Settings& s) { s.reel = 6, s.soundOn = false; }, true},
        {R"({"focusMin": 50, "theme": "dark"})", [](Settings& s) { s.focusMin = 50; }, false},
        {R"({"passwordHash": 12, "activeLockupID": "{0F8FAD5B-D9CB-469F-A165-70867728950E}",
             "mutedCalendarIDs": ["a", 3]})",
         defaults, true},
        // A null optional is absent: nothing is lost when it is left out.
        {R"({"passwordHash": null, "activeLockupID": null, "longMin": 20})",
         [](Settings& s) { s.longMin = 20; }, false},
        {R"({"passwordHash": "ab", "activeLockupID": "0f8fad5b-d9cb-469f-a165-70867728950e"})",
         [](Settings& s) {
             s.passwordHash = u"ab"_s, s.activeLockupID = QUuid::fromString(QLatin1StringView(kId));
         },
         false},
        // Not an object, cut short, empty, not UTF-8: every field has its default.
        {"[1, 2, 3]", defaults, true},
        {"{\"focusMin\": 30", defaults, true},
        {"", defaults, true},
        {"{\"focusMin\": \"\xff\"}", defaults, true},
        // Nesting is read as deep as the limit, and no deeper.
        {"{\"focusMin\": 50, \"later\": " + nested(kMaxStoreDepth - 1) + "}",
         [](Settings& s) { s.focusMin = 50; }, false},
        {"{\"focusMin\": 50, \"later\": " + nested(kMaxStoreDepth) + "}", defaults, true},
    };
    for (const Case& c : cases) {
        EngineRig rig;
        rig.writeData(kLockups, "[]"); // no lockup to fill activeLockupID in
        rig.writeData(kSettings, c.text);
        TimerModel& e = rig.start();
        Settings expected;
        c.expected(expected);
        EXPECT_EQ(e.settings(), expected) << c.text.constData();
        EXPECT_EQ(e.remaining(), expected.focusMin * 60);
        // Rewritten at once in the canonical form; what it could not hold survives beside it.
        EXPECT_EQ(rig.readData(kSettings), storeText(expected)) << c.text.constData();
        const QStringList aside = rig.asideFiles(kSettings);
        ASSERT_EQ(aside.size(), c.keptAside ? 1 : 0) << c.text.constData();
        if (!c.keptAside) continue;
        EXPECT_TRUE(
            QRegularExpression(u"^settings\\.json\\.corrupt-\\d{8}-\\d{6}$"_s).match(aside[0]).hasMatch());
        EXPECT_EQ(rig.readData(aside[0]), c.text);
    }
}

TEST(Stores, ListsDecodeStrictlyAndABadFileIsKeptAside) {
    const char* const a = "7C9E6679-7425-40DE-944B-E07FC1F90AE7";
    const char* const b = "7C9E6679-7425-40DE-944B-E07FC1F90AE8";
    struct Case {
        QString file;
        QByteArray text;
        qsizetype lockups, schedules, history;
        bool keptAside;
    };
    const QList<Case> cases = {
        {kLockups, "[]", 0, 0, 1, false}, // kept empty: no seeds
        {kLockups, R"([{"id": "0F8FAD5B-D9CB-469F-A165-70867728950E", "name": "Mine", "sites": ["a.com"]}])",
         2, 0, 1, true},
        {kSchedules,
         "[" + schedule(a, R"("lockKind": "timer")") + ", " + schedule(b, R"("lockKind": "forever")") + "]",
         2, 0, 1, true},
        {kSchedules, "[" + schedule(a, R"("lockKind": "timer", "lockupID": 7)") + "]", 2, 0, 1, true},
        // A null lockup is no lockup: the block and its neighbours stay.
        {kSchedules,
         "[" + schedule(a, R"("lockKind": "timer", "lockupID": null)") + ", " +
             schedule(b, R"("lockKind": "none")") + "]",
         2, 2, 1, false},
        {kHistory,
         R"([{"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000}, {"date": "2026-02-28", "takes": 1}])",
         2, 0, 1, true},
        {kHistory, R"({"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000})", 2, 0, 1, true},
        {kHistory, R"([{"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000}])", 2, 0, 2, false},
    };
    for (const Case& c : cases) {
        EngineRig rig;
        rig.writeData(c.file, c.text);
        TimerModel& e = rig.start();
        EXPECT_EQ(e.lockups().size(), c.lockups) << c.text.constData();
        EXPECT_EQ(e.schedules().size(), c.schedules) << c.text.constData();
        EXPECT_EQ(e.history().size(), c.history) << c.text.constData();
        EXPECT_EQ(e.history().last().date, u"2026-03-02"_s);
        const bool seeded = c.lockups == 2 && e.lockups()[0].sites.size() == 25;
        EXPECT_EQ(seeded, c.lockups == 2);
        EXPECT_EQ(e.settings().activeLockupID.has_value(), seeded);
        EXPECT_TRUE(c.schedules == 0 || !e.schedules()[0].lockupID.has_value());
        const QStringList aside = rig.asideFiles(c.file);
        ASSERT_EQ(aside.size(), c.keptAside ? 1 : 0) << c.text.constData();
        EXPECT_TRUE(!c.keptAside || rig.readData(aside[0]) == c.text);
    }
}

TEST(Stores, AFileBeyondTheLimitsIsKeptAsideUnread) {
    // What once cost gigabytes of memory: a run of brackets that is never closed.
    EXPECT_TRUE(parseJson(QByteArray(kMaxStoreBytes, '['), kMaxStoreDepth).is_discarded());
    EXPECT_TRUE(parseJson(nested(3), 3).is_array());
    EXPECT_TRUE(parseJson(nested(4), 3).is_discarded());

    // Valid, but larger than any store: not read at all.
    const QByteArray beyond = '[' + QByteArray(kMaxStoreBytes - 1, ' ') + ']';
    EngineRig rig;
    rig.start();
    rig.writeData(kHistory, beyond);
    // Only a regular file is a store: a pipe would never give its end to a reader.
    const QString pipe = rig.dataDir() + u'/' + kLockups;
    ASSERT_TRUE(QFile::remove(pipe));
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    TimerModel& e = rig.start();
    EXPECT_EQ(e.history().size(), 1);
    EXPECT_EQ(e.lockups().size(), 2);
    ASSERT_EQ(rig.asideFiles(kHistory).size(), 1);
    EXPECT_EQ(rig.readData(rig.asideFiles(kHistory)[0]), beyond);
    EXPECT_EQ(QDir(rig.dataDir()).entryList({kLockups + u".corrupt-*"_s}, QDir::System).size(), 1);
}

TEST(Stores, IdentifiersAreReadInEitherCaseAndWrittenUpperCase) {
    EngineRig rig;
    rig.writeData(
        kSchedules,
        "[" +
            schedule("7c9e6679-7425-40de-944b-e07fc1f90ae7",
                     R"("lockKind": "password", "lockupID": "0f8fad5b-d9cb-469f-a165-70867728950e")") +
            ", " + schedule(kId, R"("lockKind": "none")") + "]");
    TimerModel& e = rig.start();
    ASSERT_EQ(e.schedules().size(), 2);
    EXPECT_EQ(e.schedules()[0].lockupID, QUuid::fromString(QLatin1StringView(kId)));
    e.addSchedule();
    const QByteArray written = rig.readData(kSchedules);
    EXPECT_TRUE(written.contains("\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\""));
    EXPECT_TRUE(written.contains(QByteArray("\"lockupID\": \"").append(kId)));
    EXPECT_FALSE(parse(written)[1].contains("lockupID")); // absent, and never written as null
    const auto edited = e.schedules();                    // a second start replaces the engine `e` refers to
    EXPECT_EQ(rig.start().schedules(), edited);
}

TEST(Stores, AKilledWriterNeverLeavesAPartialFile) {
    QTemporaryDir dir;
    FakeClock clock;
    StoreDirectory store(dir.path(), clock);
    QList<DayStat> a, b; // big enough that a write takes a while
    for (int i = 0; i < 8000; ++i) {
        a.append(DayStat{u"2026-01-01"_s, i, i * 60});
        b.append(DayStat{u"2027-01-01"_s, i, i});
    }
    const QByteArray textA = storeText(a), textB = storeText(b);
    ASSERT_TRUE(store.writeText(kHistory, textA));
    for (int round = 0; round < 15; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            for (int i = 0;; ++i)
                store.writeText(kHistory, i % 2 ? textA : textB);
        usleep(1000 + QRandomGenerator::global()->bounded(15000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const QByteArray now = readFile(dir.path() + u'/' + kHistory);
        ASSERT_TRUE(now == textA || now == textB) << "round " << round;
    }
}

TEST(Stores, OnlyChangedBytesAreWrittenAgainAndWriteErrorsAreSilent) {
    EngineRig rig;
    rig.start().addSchedule();
    QMap<QString, ino_t> before;
    for (const QString& f : {kSettings, kLockups, kSchedules, kHistory})
        before[f] = inodeOf(rig.dataDir() + u'/' + f);
    // A relaunch on the same day finds every store up to date and replaces none of them.
    rig.start();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        EXPECT_NE(it.value(), ino_t(0));
        EXPECT_EQ(inodeOf(rig.dataDir() + u'/' + it.key()), it.value()) << it.key().toStdString();
    }
    QList<ScheduleBlock> changed = rig.engine->schedules();
    changed[0].startHour = 8; // same size, other bytes
    rig.engine->setSchedules(changed);
    EXPECT_NE(inodeOf(rig.dataDir() + u'/' + kSchedules), before[kSchedules]);

    // A file where the data folder should be: nothing can be written, and start-up still completes.
    EngineRig blocked;
    writeFile(blocked.dataDir(), "not a folder");
    TimerModel& e = blocked.start();
    e.addLockup(u"New"_s);
    EXPECT_EQ(e.lockups().size(), 3);
}

TEST(Stores, AFailedWriteKeepsTheFileAndTheValueAndIsWrittenAgainAtTheNextChange) {
    EngineRig rig;
    TimerModel& e = rig.start();
    rig.loc->setLang(Lang::fr);
    const QByteArray settingsBefore = rig.readData(kSettings), schedulesBefore = rig.readData(kSchedules);
    const QStringList filesBefore = QDir(rig.dataDir()).entryList(QDir::Files);
    EXPECT_FALSE(e.saveFailed());
    EXPECT_EQ(e.saveFailedText(), QString());
    {
        FileSizeLimit full(8);
        e.editSettings([](Settings& s) { s.focusMin = 40; });
        e.addSchedule();
        EXPECT_TRUE(e.saveFailed());
        EXPECT_EQ(e.saveFailedText(), u"Non enregistré : disque plein ou en lecture seule."_s);
        // The files keep what they held, no temporary file is left, memory keeps the new values.
        EXPECT_EQ(rig.readData(kSettings), settingsBefore);
        EXPECT_EQ(rig.readData(kSchedules), schedulesBefore);
        EXPECT_EQ(QDir(rig.dataDir()).entryList(QDir::Files), filesBefore);
        EXPECT_EQ(e.settings().focusMin, 40);
        EXPECT_EQ(e.schedules().size(), 1);
    }
    // Room again: the next change (or leaving) writes every store that fell behind; the line goes.
    e.addLockup(u"New"_s);
    EXPECT_FALSE(e.saveFailed());
    EXPECT_EQ(parse(rig.readData(kSettings))["focusMin"], 40);
    EXPECT_EQ(parse(rig.readData(kSchedules)).size(), 1u);
    EXPECT_EQ(parse(rig.readData(kLockups)).size(), 3u);
}

TEST(Stores, LockupAndScheduleEditing) {
    EngineRig rig;
    TimerModel& e = rig.start();
    const QUuid first = e.lockups()[0].id, second = e.lockups()[1].id;
    e.addLockup(u"Deep work"_s);
    ASSERT_EQ(e.lockups().size(), 3);
    EXPECT_EQ(e.lockups()[2].name, u"Deep work"_s);
    EXPECT_EQ(e.settings().activeLockupID, e.lockups()[2].id);

    e.selectLockup(second);
    e.deleteLockup(first); // not the active one: settings untouched
    EXPECT_EQ(e.settings().activeLockupID, second);
    e.deleteLockup(second); // the active one: the first remaining becomes active
    ASSERT_EQ(e.lockups().size(), 1);
    EXPECT_EQ(e.settings().activeLockupID, e.lockups()[0].id);
    e.deleteLockup(e.lockups()[0].id);
    EXPECT_FALSE(e.settings().activeLockupID.has_value());
    EXPECT_EQ(parse(rig.readData(kLockups)), Json::array());

    e.editSettings([](Settings& s) { s.focusMin = 40; });
    e.addSchedule();
    ASSERT_EQ(e.schedules().size(), 1);
    const ScheduleBlock b = e.schedules()[0];
    EXPECT_EQ(b.weekdays, (QList<int>{2, 3, 4, 5, 6}));
    EXPECT_EQ(b.durationMin, 40);
    EXPECT_FALSE(b.lockupID.has_value()); // no lockup left
    EXPECT_EQ(b.lockKind, LockKind::timer);
    e.deleteSchedule(b.id);
    EXPECT_EQ(parse(rig.readData(kSchedules)), Json::array());
}

TEST(StoreText, EveryStoreIsPrintedAsTheLibraryPrintsItAndReadsBack) {
    // Every character a text can hold that needs care: quotes, backslashes, each control
    // character, DEL, accents and a character outside the BMP.
    QString awkward = u"Quote \" back \\ slash / ÉTÉ 📰 "_s;
    for (char16_t c = 0; c < 0x20; ++c)
        awkward += QChar(c);
    awkward += QChar(0x7F);
    Settings s;
    s.focusMin = 7, s.soundOn = false, s.passwordHash = awkward, s.activeLockupID = QUuid::createUuid();
    s.mutedCalendarIDs = {awkward, QString(), u"𝄞"_s};
    const QList<Lockup> lockups{
        {QUuid::createUuid(),
         awkward,
         {u"a.com"_s, u"x\"y\\z"_s, u"ü.example"_s, QString()},
         {{QUuid::createUuid(), u"Tab\there"_s, u"org.example.\u2028App"_s}, {QUuid::createUuid(), {}, {}}}},
        {QUuid::createUuid(), {}, {}, {}}};
    const QList<ScheduleBlock> schedules{
        {QUuid::createUuid(), true, {1, 4, 7}, 9, 0, 25, QUuid::createUuid(), true, LockKind::password},
        {QUuid::createUuid(), false, {}, -1, 55, 0, std::nullopt, false, LockKind::none}};
    const QList<DayStat> history{{u"2026-03-01"_s, 0, 0}, {awkward, 3, kMaxDayTotal}};
    const qint64 low = std::numeric_limits<qint64>::min(), high = std::numeric_limits<qint64>::max();
    for (const QByteArray& text : {storeText(Settings()), storeText(s), storeText(lockups),
                                   storeText(seedLockups()), storeText(QList<Lockup>()), storeText(schedules),
                                   storeText(history), storeText(QList<DayStat>{{u"x"_s, low, high}})})
        EXPECT_EQ(text, QByteArray::fromStdString(parse(text).dump(2, ' ', false)) + '\n');

    const auto back = [](const QByteArray& text) { return parseJson(text, kMaxStoreDepth); };
    const SettingsDecode d = decodeSettings(back(storeText(s)));
    EXPECT_FALSE(d.hadBadKey);
    EXPECT_EQ(d.settings, s);
    EXPECT_EQ(decodeLockups(back(storeText(lockups))), lockups);
    EXPECT_EQ(decodeSchedules(back(storeText(schedules))), schedules);
    EXPECT_EQ(decodeHistory(back(storeText(history))), history);
    // An unpaired surrogate has no UTF-8 form: it is written as a question mark.
    EXPECT_TRUE(storeText(QList<DayStat>{{u"a"_s + QChar(0xD800), 0, 0}}).contains("\"a?\""));

    // Every field is stored: with each one away from its default, a field the stored form leaves
    // out would read back as its default.
    Settings all;
    awayFromDefaults(all);
    all.passwordHash = u"hash"_s, all.activeLockupID = QUuid::createUuid();
    EXPECT_EQ(decodeSettings(back(storeText(all))).settings, all);
    BlockedApp app{QUuid::createUuid(), {}, {}};
    awayFromDefaults(app);
    Lockup lockup{QUuid::createUuid(), {}, {}, {app}};
    awayFromDefaults(lockup);
    EXPECT_EQ(decodeLockups(back(storeText(QList<Lockup>{lockup}))), QList<Lockup>{lockup});
    ScheduleBlock block;
    block.id = QUuid::createUuid();
    awayFromDefaults(block);
    block.weekdays = {3, 5}, block.lockupID = QUuid::createUuid(), block.lockKind = LockKind::password;
    EXPECT_EQ(decodeSchedules(back(storeText(QList<ScheduleBlock>{block}))), QList<ScheduleBlock>{block});
    DayStat day;
    awayFromDefaults(day);
    EXPECT_EQ(decodeHistory(back(storeText(QList<DayStat>{day}))), QList<DayStat>{day});
}

TEST(SiteList, LinesSchemesPathsAndWildcards) {
    struct Case {
        QString text;
        QStringList sites;
    };
    const QList<Case> cases = {
        {u"a.com\nb.com\rc.com\r\nd.com\u000Be.com\u000Cf.com\u0085g.com\u2028h.com\u2029i.com"_s,
         {u"a.com"_s, u"b.com"_s, u"c.com"_s, u"d.com"_s, u"e.com"_s, u"f.com"_s, u"g.com"_s, u"h.com"_s,
          u"i.com"_s}},
        {u"HTTPS://News.Example.COM/world/today\n\n*.cdn.example.net\nhttp://\n"_s,
         {u"news.example.com"_s, u"cdn.example.net"_s, u"www.cdn.example.net"_s}},
        // Only spaces and tabs are trimmed; what a browser's address bar shows around the host goes.
        {u" \t www.a.com:8080 \t\n   \nwww.a.com:8080\nx.*.y.com\nftp://a/b://c\nuser:pw@b.com:443/x?y=1\n"_s
         u"c.com?q\nd.com#top\nreddit.com.\nB\u00fcCHER.de\n*.e.com\n*.www.f.com"_s,
         {u"www.a.com"_s, u"www.a.com"_s, u"x.y.com"_s, u"a"_s, u"b.com"_s, u"c.com"_s, u"d.com"_s,
          u"reddit.com"_s, u"xn--bcher-kva.de"_s, u"e.com"_s, u"www.e.com"_s, u"www.f.com"_s}},
        {u"\r\n\r\n  \n*.\n/path"_s, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseSiteList(c.text), c.sites) << c.text.toStdString();

    // What is still no host name is left out, and told with the piece as typed.
    const SiteListParse p = parseSites(u"ok.com\n two words.com \nunder_score.com\n-lead.com\na..b\n"_s +
                                       QString(64, u'x') + u".com\n:8080\nb\u00fc\u00df..de"_s);
    EXPECT_EQ(p.sites, (QStringList{u"ok.com"_s, u"under_score.com"_s}));
    using W = SitePiece::Why;
    const QList<QPair<QString, W>> told = {{u"two words.com"_s, W::spaces},
                                           {u"-lead.com"_s, W::notAName},
                                           {u"a..b"_s, W::notAName},
                                           {QString(64, u'x') + u".com"_s, W::notAName},
                                           {u"b\u00fc\u00df..de"_s, W::notAName}};
    EXPECT_EQ(p.rejected, told);
    // Stored entries are written in their host-name form.
    EXPECT_EQ(hostFormOf(u"news.com"_s), u"news.com"_s);
    EXPECT_EQ(hostFormOf(u"bücher.de:80"_s), u"xn--bcher-kva.de"_s);
    EXPECT_EQ(hostFormOf(u"a b"_s), QString());
    Lockup l{QUuid(), QString(), {u"old.com"_s}, {}};
    l.setSites(u"Reddit.com"_s);
    EXPECT_EQ(l.sites, QStringList{u"reddit.com"_s});
}
