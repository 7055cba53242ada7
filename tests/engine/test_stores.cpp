// The four JSON stores: first launch, key-by-key fallback, strict lists, keeping bad files aside,
// atomic writes and identifiers.
#include "engine/stores.h"
#include "fakes/enginerig.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
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
        EXPECT_EQ(rig.readData(u"settings.json"_s), storeText(expected));
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
    QList<DayStat> a, b;
    for (int i = 0; i < 8000; ++i) {
        a.append(DayStat{u"2026-01-01"_s, i, i * 60});
        b.append(DayStat{u"2027-01-01"_s, i, i});
    }
    const QByteArray textA = storeText(a), textB = storeText(b);
    ASSERT_TRUE(store.writeText(u"history.json"_s, textA));
    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 15; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) store.writeText(u"history.json"_s, i % 2 ? textA : textB);
        }
        usleep(1000 + rng->bounded(15000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const auto r = store.read(u"history.json"_s);
        ASSERT_EQ(r.status, StoreDirectory::Status::ok) << "round " << round;
        const QByteArray now = readFile(dir.path() + u"/history.json"_s);
        ASSERT_TRUE(now == textA || now == textB) << "round " << round;
    }
}

TEST(Stores, AnUnwritableFolderIsSilentAndKeepsTheValueInMemory) {
    EngineRig rig;
    QDir().mkpath(rig.dir.path());
    // A file where the data folder should be: nothing can be written, start-up still completes.
    writeFile(rig.dataDir(), "not a folder");
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

namespace {
// What the library's own parser makes of `text`, without exceptions.
Json libraryParse(const QByteArray& text) {
    return Json::parse(text.constBegin(), text.constEnd(), nullptr, false);
}

// Equal values of equal kinds all the way down: 5 read as unsigned is not 5 read as signed.
::testing::AssertionResult sameJson(const Json& a, const Json& b) {
    if (a.type() != b.type())
        return ::testing::AssertionFailure() << "kinds differ: " << a.type_name() << " / " << b.type_name();
    if (a != b) return ::testing::AssertionFailure() << a.dump() << " / " << b.dump();
    if (a.is_structured()) {
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
            if (auto r = sameJson(*i, *j); !r) return r;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult parsesLikeTheLibrary(const QByteArray& text) {
    const Json ours = parseJson(text), theirs = libraryParse(text);
    if (ours.is_discarded() != theirs.is_discarded())
        return ::testing::AssertionFailure() << "accepted by " << (ours.is_discarded() ? "the library" : "us")
                                             << " only: " << text.toPercentEncoding().constData();
    if (ours.is_discarded()) return ::testing::AssertionSuccess();
    return sameJson(ours, theirs) << " for " << text.toPercentEncoding().constData();
}

// Every character a name can hold that needs care: quotes, backslashes, each control character,
// DEL, accents, a character outside the BMP, and an unpaired surrogate.
QString awkwardText() {
    QString s = u"Quote \" back \\ slash / ÉTÉ 📰 "_s;
    for (char16_t c = 0; c < 0x20; ++c) s += QChar(c);
    s += QChar(0x7F);
    s += QChar(0xD800);
    return s;
}

// The same value as the library prints it, pretty, with two spaces.
QByteArray printedByTheLibrary(const QByteArray& text) {
    return QByteArray::fromStdString(parseJson(text).dump(2, ' ', false, Json::error_handler_t::replace)) + '\n';
}

QList<Lockup> awkwardLockups() {
    Lockup a{QUuid::createUuid(), awkwardText(), {u"a.com"_s, u"x\"y\\z"_s, u"ü.example"_s, QString()}, {}};
    a.apps << BlockedApp{QUuid::createUuid(), u"Tab\there"_s, u"org.example.\u2028App"_s}
           << BlockedApp{QUuid::createUuid(), QString(), QString()};
    Lockup empty{QUuid::createUuid(), QString(), {}, {}};
    return {a, empty};
}
} // namespace

TEST(StoreText, EveryKindOfStoreIsPrintedAsTheLibraryPrintsIt) {
    Settings s;
    EXPECT_EQ(storeText(s), printedByTheLibrary(storeText(s)));
    s.focusMin = std::numeric_limits<qint64>::min();
    s.meetingWarnMinutes = std::numeric_limits<qint64>::max();
    s.soundOn = false;
    s.passwordHash = awkwardText();
    s.activeLockupID = QUuid::createUuid();
    s.mutedCalendarIDs = {awkwardText(), QString(), u"work"_s};
    EXPECT_EQ(storeText(s), printedByTheLibrary(storeText(s)));

    EXPECT_EQ(storeText(QList<Lockup>()), "[]\n");
    for (const QList<Lockup>& lockups : {awkwardLockups(), seedLockups()})
        EXPECT_EQ(storeText(lockups), printedByTheLibrary(storeText(lockups)));

    ScheduleBlock with;
    with.id = QUuid::createUuid();
    with.weekdays = {1, 4, 7};
    with.lockupID = QUuid::createUuid();
    with.lockKind = LockKind::password;
    ScheduleBlock without;
    without.id = QUuid::createUuid();
    without.startHour = -3;
    without.lockGate = false;
    without.lockKind = LockKind::none;
    const QList<ScheduleBlock> schedules{with, without};
    EXPECT_EQ(storeText(schedules), printedByTheLibrary(storeText(schedules)));
    EXPECT_EQ(storeText(QList<ScheduleBlock>()), "[]\n");

    const QList<DayStat> history{{u"2026-03-01"_s, 0, 0}, {awkwardText(), -1, 1LL << 40}};
    EXPECT_EQ(storeText(history), printedByTheLibrary(storeText(history)));
}

TEST(StoreText, RecordsComeBackAsTheyWereWritten) {
    QList<Lockup> lockups = awkwardLockups();
    const QByteArray text = storeText(lockups);
    EXPECT_TRUE(text.contains(R"(Quote \" back \\ slash / ÉTÉ 📰 \u0000\u0001)"));
    EXPECT_TRUE(text.contains(R"(\u001f)"));
    EXPECT_TRUE(text.contains(R"(\b\t\n\u000b\f\r)"));
    const auto back = decodeLockups(parseJson(text));
    ASSERT_TRUE(back.has_value());
    // An unpaired surrogate has no UTF-8 form; it is written as a question mark.
    lockups[0].name.chop(1);
    lockups[0].name += u'?';
    EXPECT_EQ(*back, lockups);

    Settings s;
    s.passwordHash = u"\"\\\u0001🔑"_s;
    s.mutedCalendarIDs = {u"a\nb"_s, u"𝄞"_s};
    const SettingsDecode d = decodeSettings(parseJson(storeText(s)));
    EXPECT_FALSE(d.hadBadKey);
    EXPECT_EQ(d.settings, s);

    const QList<DayStat> history{{u"2026-03-01"_s, 3, 4500}, {u"ünïcode"_s, 0, std::numeric_limits<qint64>::max()}};
    EXPECT_EQ(decodeHistory(parseJson(storeText(history))), history);
}

TEST(StoreText, TheParserAcceptsAndRejectsWhatTheLibraryDoes) {
    const QList<QByteArray> texts{
        // Layout, byte order marks and the end of the text.
        "", " ", "{}", "[]", " \t\r\n[ 1 , 2 ]\n", "[1]\f", "[1] [2]", QByteArray("\0", 1),
        QByteArray("[1]\0", 4), QByteArray("[1] \0junk", 9), QByteArray("[1,\0]", 5), QByteArray("[\0]", 3),
        "\xEF\xBB\xBF{}", "\xEF\xBB\xBF", "\xEF\xBB{}", "\xEF{}", " \xEF\xBB\xBF{}",
        // Structure.
        "[1,]", "[,1]", "[1 2]", "[", "]", "[[[]]]", "[[[]]", "{\"a\":1,}", "{\"a\" 1}", "{\"a\":}", "{1:2}",
        "{\"a\":1 \"b\":2}", "{'a':1}", "{\"a\":1,\"b\":{\"c\":[true,false,null]}}",
        "{\"a\":1,\"b\":2,\"a\":[3]}", "{\"a\":{\"x\":1},\"a\":{\"y\":2}}",
        // Literals and top-level scalars.
        "true", "false", "null", "nul", "truex", "True", "\"x\"", "5",
        // Numbers.
        "0", "-0", "01", "-01", "-", "-a", "+1", "1.", ".5", "1.5", "-0.0", "1e5", "1E+5", "1e-5", "1e", "1e+",
        "0x10", "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
        "18446744073709551615", "18446744073709551616", "123456789012345678901234567890", "1e400", "-1e400",
        "1e-400", "0.1", "[1.0,2,-3]",
        // Escapes.
        R"("a\"b")", R"("\\\/\b\f\n\r\t")", R"("\u0041\u00e9\u20AC")", R"("\u0000")", R"("\ud83d\ude00")",
        R"("\uD83D\uDE00")", R"("\ud83d")", R"("\ude00")", R"("\ud83dx")", R"("\ud83d\u0041")",
        R"("\ud83d\ud83d")", R"("\ud83d\nde00")", R"("\uZZZZ")", R"("\u12")", R"("\x")", R"("\)", R"("\u)",
        // Raw bytes in strings.
        "\"a\tb\"", "\"a\nb\"", "\"\x7f\"", "\"\x1f\"", "\"abc", "\"\xc3\xa9\"", "\"\xc3\"", "\"\xc3(\"",
        "\"\xc0\x80\"", "\"\xc1\xbf\"", "\"\xe0\x9f\x80\"", "\"\xe0\xa0\x80\"", "\"\xed\x9f\xbf\"",
        "\"\xed\xa0\x80\"", "\"\xef\xbf\xbf\"", "\"\xf0\x8f\xbf\xbf\"", "\"\xf0\x9f\x98\x80\"",
        "\"\xf4\x8f\xbf\xbf\"", "\"\xf4\x90\x80\x80\"", "\"\xf5\x80\x80\x80\"", "\"\xff\"", "\"\x80\"",
        "{\"\xc3\xa9\":1}", "{\"\xff\":1}",
    };
    for (const QByteArray& text : texts) EXPECT_TRUE(parsesLikeTheLibrary(text));
}

TEST(StoreText, TheParserAgreesWithTheLibraryOnDamagedFiles) {
    // A real store with every kind of value, damaged a few bytes at a time.
    Json doc = parseJson(storeText(awkwardLockups()));
    doc.push_back(parseJson(storeText(Settings())));
    doc.push_back(Json::array({1.5, -7, 0, nullptr, "\xF0\x9F\x93\xB0"}));
    const QByteArray original = QByteArray::fromStdString(doc.dump(2));
    ASSERT_TRUE(parsesLikeTheLibrary(original));
    static constexpr char bytes[] = "{}[]\",:\\u0123456789abcdefABCDEF-+.eE tnrf\x7f\x80\xbf\xc3\xed\xf0\xf4\xff";
    const QByteArrayView pieces(bytes, sizeof bytes); // with the NUL at the end
    QRandomGenerator rng(20260302);
    for (int round = 0; round < 3000; ++round) {
        QByteArray text = original;
        for (int n = 1 + rng.bounded(3); n > 0; --n) {
            const qsizetype at = rng.bounded(text.size());
            switch (rng.bounded(3)) {
            case 0: text[at] = pieces[rng.bounded(int(pieces.size()))]; break;
            case 1: text.remove(at, 1 + rng.bounded(4)); break;
            default: text.insert(at, pieces[rng.bounded(int(pieces.size()))]);
            }
        }
        ASSERT_TRUE(parsesLikeTheLibrary(text)) << "round " << round;
    }
}

TEST(StoreText, DeepNestingNeedsNoDeepStack) {
    // Far deeper than the stack of a recursive parser would allow.
    const int depth = 200000;
    const QByteArray deep = QByteArray(depth, '[') + QByteArray(depth, ']');
    const QByteArray unclosed = QByteArray(depth, '[') + QByteArray(depth - 1, ']');
    ASSERT_TRUE(parseJson(deep).is_array());
    EXPECT_TRUE(parseJson(unclosed).is_discarded());
    // A deep value under a key nobody reads does not spoil the settings around it.
    EngineRig rig;
    rig.writeData(u"settings.json"_s, QByteArray("{\"focusMin\": 50, \"later\": " + deep + "}"));
    EXPECT_EQ(rig.start().settings().focusMin, 50);
    EXPECT_TRUE(rig.asideFiles(u"settings.json"_s).isEmpty());
}

TEST(Stores, OnlyChangedBytesAreWrittenAgain) {
    QTemporaryDir dir;
    FakeClock clock;
    StoreDirectory store(dir.path(), clock);
    const QString path = dir.path() + u"/history.json"_s;
    auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    ASSERT_TRUE(store.writeText(u"history.json"_s, "[1]\n"));
    const ino_t first = inode();
    ASSERT_NE(first, ino_t(0));
    EXPECT_TRUE(store.writeText(u"history.json"_s, "[1]\n"));
    EXPECT_EQ(inode(), first); // left alone
    EXPECT_TRUE(store.writeText(u"history.json"_s, "[2]\n")); // same size, other bytes
    EXPECT_NE(inode(), first);
    EXPECT_EQ(readFile(path), "[2]\n");

    // A relaunch on the same day finds every store up to date and replaces none of them.
    EngineRig rig;
    rig.start().addSchedule();
    QMap<QString, ino_t> before;
    for (const QString& f : {u"settings.json"_s, u"lockups.json"_s, u"schedules.json"_s, u"history.json"_s}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(rig.dataDir() + u'/' + f).constData(), &st), 0) << f.toStdString();
        before[f] = st.st_ino;
    }
    rig.start();
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(rig.dataDir() + u'/' + it.key()).constData(), &st), 0);
        EXPECT_EQ(st.st_ino, it.value()) << it.key().toStdString();
    }
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
