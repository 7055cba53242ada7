// The four JSON stores: first launch, key-by-key fallback, strict lists, keeping bad files aside,
// atomic writes and identifiers.
#include "engine/stores.h"
#include "fakes/enginerig.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
Json parse(const QByteArray& bytes) {
    return Json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
}
QStringList keysOf(const Json& obj) {
    QStringList keys;
    for (auto it = obj.begin(); it != obj.end(); ++it) keys << QString::fromStdString(it.key());
    return keys;
}
} // namespace

TEST(Stores, FirstLaunchSeedsInTheInterfaceLanguageAndWritesAllFourFiles) {
    for (Lang lang : {Lang::en, Lang::fr}) {
        EngineRig rig;
        TimerModel& e = rig.start(lang);
        ASSERT_EQ(e.lockups().size(), 2);
        const Lockup& usual = e.lockups()[0];
        const Lockup& news = e.lockups()[1];
        EXPECT_EQ(usual.name, lang == Lang::en ? u"The usual suspects"_s : u"Les suspects habituels"_s);
        EXPECT_EQ(news.name, lang == Lang::en ? u"Newsroom blackout"_s : u"Blackout salle de nouvelles"_s);
        EXPECT_EQ(usual.sites.size(), 25);
        EXPECT_EQ(news.sites.size(), 15);
        EXPECT_EQ(usual.apps.size(), 3);
        EXPECT_TRUE(news.apps.isEmpty());
        EXPECT_NE(usual.id, news.id);
        // Every seeded site is already what the site parser would make of it.
        for (const Lockup& l : e.lockups())
            for (const QString& s : l.sites) EXPECT_EQ(parseSiteList(s), QStringList{s});

        ASSERT_TRUE(e.settings().activeLockupID.has_value());
        EXPECT_EQ(*e.settings().activeLockupID, usual.id);
        for (const char* f : {"settings.json", "lockups.json", "schedules.json", "history.json"})
            EXPECT_FALSE(rig.readData(QString::fromLatin1(f)).isEmpty()) << f;
        EXPECT_EQ(parse(rig.readData(u"schedules.json"_s)), Json::array());
        EXPECT_EQ(QString::fromStdString(parse(rig.readData(u"settings.json"_s))["activeLockupID"].get<std::string>()),
                  uuidText(usual.id));
        EXPECT_TRUE(rig.asideFiles(u"settings.json"_s).isEmpty());
    }
}

TEST(Stores, SettingsFallBackKeyByKeyAndKeepTheBadFileAside) {
    EngineRig rig;
    const QByteArray original = R"({"focusMin": "fifty", "reel": 6, "soundOn": false, "futureKey": [1, 2]})";
    rig.writeData(u"settings.json"_s, original);
    TimerModel& e = rig.start();
    EXPECT_EQ(e.settings().focusMin, 25);
    EXPECT_EQ(e.settings().reel, 6);
    EXPECT_FALSE(e.settings().soundOn);
    EXPECT_EQ(e.settings().longMin, 15);
    EXPECT_EQ(e.remaining(), 25 * 60);

    // Rewritten at once, canonical: every key in field order, the unknown key gone.
    const Json j = parse(rig.readData(u"settings.json"_s));
    EXPECT_EQ(keysOf(j), (QStringList{u"focusMin"_s, u"shortMin"_s, u"longMin"_s, u"reel"_s, u"soundOn"_s,
                                      u"autoStartBreaks"_s, u"autoStartTakes"_s, u"blockWebsites"_s,
                                      u"blockApps"_s, u"blockPage"_s, u"blockDuringBreaks"_s,
                                      u"allowanceEnabled"_s, u"allowanceMin"_s, u"activeLockupID"_s,
                                      u"calendarEnabled"_s, u"meetingWarnEnabled"_s, u"meetingWarnMinutes"_s,
                                      u"mutedCalendarIDs"_s}));
    EXPECT_EQ(j["reel"], 6);
    // The value that could not be read survives beside it.
    const QStringList aside = rig.asideFiles(u"settings.json"_s);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression(u"^settings\\.json\\.corrupt-\\d{8}-\\d{6}$"_s).match(aside[0]).hasMatch());
    EXPECT_EQ(rig.readData(aside[0]), original);
}

TEST(Stores, SettingsThatAreNotAnObjectGiveTheDefaults) {
    for (const QByteArray& text : {QByteArray("[1, 2, 3]"), QByteArray("{\"focusMin\": 30"), QByteArray(""),
                                   QByteArray("{\"focusMin\": \"\xff\"}")}) {
        EngineRig rig;
        rig.writeData(u"settings.json"_s, text);
        TimerModel& e = rig.start();
        Settings expected;
        expected.activeLockupID = e.lockups().first().id;
        EXPECT_EQ(e.settings(), expected) << text.constData();
        EXPECT_EQ(parse(rig.readData(u"settings.json"_s)), toJson(expected));
        ASSERT_EQ(rig.asideFiles(u"settings.json"_s).size(), 1);
        EXPECT_EQ(rig.readData(rig.asideFiles(u"settings.json"_s)[0]), text);
    }
}

TEST(Stores, UnknownSettingsKeysAreIgnoredWithoutKeepingAnything) {
    EngineRig rig;
    rig.writeData(u"settings.json"_s, R"({"focusMin": 50, "theme": "dark"})");
    TimerModel& e = rig.start();
    EXPECT_EQ(e.settings().focusMin, 50);
    EXPECT_TRUE(rig.asideFiles(u"settings.json"_s).isEmpty());
}

TEST(Stores, OptionalSettingsBecomeAbsentWhenUnreadable) {
    EngineRig rig;
    rig.writeData(u"lockups.json"_s, "[]");
    rig.writeData(u"settings.json"_s, R"({"passwordHash": 12, "activeLockupID": "{not-a-uuid}", "mutedCalendarIDs": ["a", 3]})");
    TimerModel& e = rig.start();
    EXPECT_FALSE(e.settings().passwordHash.has_value());
    EXPECT_FALSE(e.settings().activeLockupID.has_value());
    EXPECT_TRUE(e.settings().mutedCalendarIDs.isEmpty());
    const Json j = parse(rig.readData(u"settings.json"_s));
    EXPECT_FALSE(j.contains("passwordHash"));
    EXPECT_FALSE(j.contains("activeLockupID"));
}

TEST(Stores, AnEmptyLockupListIsKeptAndNothingIsSeeded) {
    EngineRig rig;
    rig.writeData(u"lockups.json"_s, "[]");
    TimerModel& e = rig.start();
    EXPECT_TRUE(e.lockups().isEmpty());
    EXPECT_FALSE(e.settings().activeLockupID.has_value());
    EXPECT_EQ(parse(rig.readData(u"lockups.json"_s)), Json::array());
    EXPECT_TRUE(rig.asideFiles(u"lockups.json"_s).isEmpty());
}

TEST(Stores, OneBadLockupFailsTheWholeListAndTheFileIsKeptAside) {
    EngineRig rig;
    const QByteArray text = R"([{"id": "0F8FAD5B-D9CB-469F-A165-70867728950E", "name": "Mine", "sites": ["a.com"]}])";
    rig.writeData(u"lockups.json"_s, text);
    TimerModel& e = rig.start();
    ASSERT_EQ(e.lockups().size(), 2);
    EXPECT_EQ(e.lockups()[0].sites.size(), 25);
    ASSERT_EQ(rig.asideFiles(u"lockups.json"_s).size(), 1);
    EXPECT_EQ(rig.readData(rig.asideFiles(u"lockups.json"_s)[0]), text);
}

TEST(Stores, SchedulesAndHistoryDecodeStrictly) {
    EngineRig rig;
    rig.writeData(u"schedules.json"_s, R"([
        {"id": "7C9E6679-7425-40DE-944B-E07FC1F90AE7", "enabled": true, "weekdays": [2], "startHour": 9,
         "startMinute": 0, "durationMin": 25, "lockGate": true, "lockKind": "timer"},
        {"id": "7C9E6679-7425-40DE-944B-E07FC1F90AE8", "enabled": true, "weekdays": [3], "startHour": 9,
         "startMinute": 0, "durationMin": 25, "lockGate": true, "lockKind": "forever"}])");
    rig.writeData(u"history.json"_s, R"([{"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000},
                                         {"date": "2026-02-28", "takes": 1}])");
    TimerModel& e = rig.start();
    EXPECT_TRUE(e.schedules().isEmpty());
    ASSERT_EQ(e.history().size(), 1); // only today's new record
    EXPECT_EQ(e.history()[0].date, u"2026-03-02"_s);
    EXPECT_EQ(rig.asideFiles(u"schedules.json"_s).size(), 1);
    EXPECT_EQ(rig.asideFiles(u"history.json"_s).size(), 1);
}

TEST(Stores, SchedulesRoundTripWithAndWithoutLockup) {
    EngineRig rig;
    rig.writeData(u"schedules.json"_s, R"([
        {"id": "7c9e6679-7425-40de-944b-e07fc1f90ae7", "enabled": false, "weekdays": [6, 2, 2], "startHour": 7,
         "startMinute": 45, "durationMin": 50, "lockupID": "0f8fad5b-d9cb-469f-a165-70867728950e",
         "lockGate": false, "lockKind": "password"},
        {"id": "7C9E6679-7425-40DE-944B-E07FC1F90AE8", "enabled": true, "weekdays": [], "startHour": 9,
         "startMinute": 0, "durationMin": 25, "lockGate": true, "lockKind": "none"}])");
    TimerModel& e = rig.start();
    ASSERT_EQ(e.schedules().size(), 2);
    const ScheduleBlock& a = e.schedules()[0];
    EXPECT_FALSE(a.enabled);
    EXPECT_EQ(a.weekdays, (QList<int>{2, 6}));
    EXPECT_EQ(a.lockKind, LockKind::password);
    ASSERT_TRUE(a.lockupID.has_value());
    EXPECT_FALSE(e.schedules()[1].lockupID.has_value());

    // Identifiers are read in either case and written upper-case; an absent lockup stays absent.
    const QByteArray written = rig.readData(u"schedules.json"_s);
    EXPECT_TRUE(written.contains("\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\""));
    EXPECT_TRUE(written.contains("\"0F8FAD5B-D9CB-469F-A165-70867728950E\""));
    const Json j = parse(written);
    EXPECT_FALSE(j[1].contains("lockupID"));
    EXPECT_FALSE(written.contains("null"));
}

TEST(Stores, LockupsWrittenAreReadBackTheSame) {
    EngineRig rig;
    TimerModel& e = rig.start();
    QList<Lockup> list = e.lockups();
    list[1].name = u"Pas de nouvelles, « bonnes nouvelles » 📰"_s;
    list[1].sites << u"exemple.fr"_s << u"exemple.fr"_s;
    e.setLockups(list);
    const QList<Lockup> before = e.lockups();
    const QByteArray text = rig.readData(u"lockups.json"_s);
    EXPECT_TRUE(text.contains("\n  {\n    \"id\"")); // pretty-printed, keys in field order
    rig.start();
    EXPECT_EQ(rig.engine->lockups(), before);
}

TEST(Stores, AKilledWriterNeverLeavesAPartialFile) {
    QTemporaryDir dir;
    FakeClock clock;
    StoreDirectory store(dir.path(), clock);
    // Two values big enough that a write takes a while.
    Json a = Json::array(), b = Json::array();
    for (int i = 0; i < 8000; ++i) {
        a.push_back(toJson(DayStat{u"2026-01-01"_s, i, i * 60}));
        b.push_back(toJson(DayStat{u"2027-01-01"_s, i, i}));
    }
    ASSERT_TRUE(store.write(u"history.json"_s, a));
    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 15; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) store.write(u"history.json"_s, i % 2 ? a : b);
        }
        usleep(1000 + rng->bounded(15000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const auto r = store.read(u"history.json"_s);
        ASSERT_EQ(r.status, StoreDirectory::Status::ok) << "round " << round;
        ASSERT_TRUE(r.json == a || r.json == b) << "round " << round;
    }
}

TEST(Stores, AnUnwritableFolderIsSilentAndKeepsTheValueInMemory) {
    EngineRig rig;
    QDir().mkpath(rig.dir.path());
    // A file where the data folder should be: nothing can be written, start-up still completes.
    EngineRig::writeBytes(rig.dataDir(), "not a folder");
    TimerModel& e = rig.start();
    EXPECT_EQ(e.lockups().size(), 2);
    e.addLockup(u"New"_s);
    EXPECT_EQ(e.lockups().size(), 3);
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
    EXPECT_EQ(parse(rig.readData(u"lockups.json"_s)), Json::array());

    e.editSettings([](Settings& s) { s.focusMin = 40; });
    e.addSchedule();
    ASSERT_EQ(e.schedules().size(), 1);
    const ScheduleBlock& b = e.schedules()[0];
    EXPECT_EQ(b.weekdays, (QList<int>{2, 3, 4, 5, 6}));
    EXPECT_EQ(b.durationMin, 40);
    EXPECT_FALSE(b.lockupID.has_value()); // no lockup left
    EXPECT_EQ(b.lockKind, LockKind::timer);
    e.deleteSchedule(b.id);
    EXPECT_TRUE(e.schedules().isEmpty());
    EXPECT_EQ(parse(rig.readData(u"schedules.json"_s)), Json::array());
}

TEST(SiteList, EveryLineBreakKindSeparatesSites) {
    const QString text = u"a.com\nb.com\rc.com\r\nd.com\u000Be.com\u000Cf.com\u0085g.com\u2028h.com\u2029i.com"_s;
    EXPECT_EQ(parseSiteList(text), (QStringList{u"a.com"_s, u"b.com"_s, u"c.com"_s, u"d.com"_s, u"e.com"_s,
                                                u"f.com"_s, u"g.com"_s, u"h.com"_s, u"i.com"_s}));
}

TEST(SiteList, SchemesPathsWildcardsAndBlankLines) {
    EXPECT_EQ(parseSiteList(u"HTTPS://News.Example.COM/world/today\n\n*.cdn.example.net\nhttp://\n"_s),
              (QStringList{u"news.example.com"_s, u"cdn.example.net"_s}));
    // Only spaces and tabs are trimmed; ports, www forms and duplicates stay as typed.
    EXPECT_EQ(parseSiteList(u" \t www.a.com:8080 \t\n   \nwww.a.com:8080\nx.*.y.com\nftp://a/b://c"_s),
              (QStringList{u"www.a.com:8080"_s, u"www.a.com:8080"_s, u"x.y.com"_s, u"a"_s}));
    EXPECT_TRUE(parseSiteList(u"\r\n\r\n  \n*.\n/path"_s).isEmpty());
    Lockup l;
    l.sites = {u"old.com"_s};
    l.setSites(u"Reddit.com"_s);
    EXPECT_EQ(l.sites, QStringList{u"reddit.com"_s});
}
