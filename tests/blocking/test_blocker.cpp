// SPDX-License-Identifier: GPL-3.0-or-later
// The lockup file as the application writes it, and how the helper's version file is read.
#include "blocking/blocker.h"
#include "engine/loc.h"
#include "fakes/enginerig.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
struct BlockerFile : ::testing::Test {
    QTemporaryDir dir;
    MemoryDefaults defaults;
    FakeRunner runner;
    std::unique_ptr<Loc> loc = std::make_unique<Loc>(defaults, QStringList{u"en"_s});
    RootLayout layout = RootLayout::under(dir.path());
    Blocker blocker{layout, dir.path() + u"/stage"_s, runner};

    void install(const QByteArray& version = "3\n") {
        QDir().mkpath(layout.stateDirectory);
        writeFile(layout.versionFile(), version);
        blocker.refresh();
    }
    QByteArray file() const { return readFile(layout.lockupFile()); }
    ino_t ino() const {
        struct stat st {};
        ::stat(QFile::encodeName(layout.lockupFile()).constData(), &st);
        return st.st_ino;
    }
};

QDateTime utc(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}
} // namespace

TEST_F(BlockerFile, WritesTheRedirectTheExpiryAndTheSitesLineByLine) {
    install();
    blocker.apply({u"a.com"_s, u"www.a.com"_s}, std::nullopt, true);
    EXPECT_EQ(file(), "#redirect 127.0.0.1\na.com\nwww.a.com\n");

    // The expiry is truncated to its whole second, never rounded up.
    blocker.apply({u"a.com"_s}, utc(1772445600999), false);
    EXPECT_EQ(file(), "#redirect 0.0.0.0\n#expires 1772445600\na.com\n");
    blocker.apply({u"a.com"_s}, utc(-1500), false);
    EXPECT_EQ(file(), "#redirect 0.0.0.0\n#expires -1\na.com\n");

    // Nothing to block is zero bytes, whatever else is given.
    blocker.apply({}, utc(1772445600000), true);
    EXPECT_EQ(file(), "");
    EXPECT_FALSE(blocker.lastError().has_value());

    // Sites in the order stored, duplicates and all, in the host-name form the hosts file can match
    // (entries stored before the parser knew ports, user information, international names or
    // trailing dots); none that would read as a directive, break a line or name no host. The file
    // is rewritten in place: the root side watches this very file.
    const ino_t inode = ino();
    blocker.apply({u"b.com:8080"_s, u"b.com:8080"_s, u"café.fr"_s, u"#redirect 10.0.0.1"_s,
                   u"evil.com\n#expires 0"_s, u"tab\tbed.com"_s, u"cr\r.com"_s, u"sep\u2028.com"_s,
                   u"reddit.com."_s, u"user@host.org"_s, u"Two words.com"_s, u"fine.org"_s},
                  std::nullopt, true);
    EXPECT_EQ(
        file(),
        QByteArray("#redirect 127.0.0.1\nb.com\nb.com\nxn--caf-dma.fr\nreddit.com\nhost.org\nfine.org\n"));
    EXPECT_EQ(ino(), inode);
}

TEST_F(BlockerFile, TheVersionFileDecidesWhetherTheHelperIsThere) {
    struct Case {
        std::optional<QByteArray> bytes;
        bool installed;
    };
    const QList<Case> cases = {
        {QByteArray("3\n"), true},
        {QByteArray("3 \n\n"), true},
        {QByteArray("+3"), true},
        {QByteArray("\t 12\r\n"), true},
        {QByteArray("2"), false},
        {QByteArray("3a"), false},
        {QByteArray(""), false},
        {QByteArray("-3"), false},
        {QByteArray("3.0"), false},
        {QByteArray("+"), false},
        {QByteArray("99999999999999999999"), false},
        {QByteArray("\xff"
                    "3"),
         false},
        {std::nullopt, false},
    };
    QSignalSpy spy(&blocker, &Blocker::installedChanged);
    bool last = false;
    int changes = 0;
    for (const Case& c : cases) {
        QFile::remove(layout.versionFile());
        if (c.bytes)
            install(*c.bytes);
        else
            blocker.refresh();
        EXPECT_EQ(blocker.installed(), c.installed) << (c.bytes ? c.bytes->constData() : "(missing)");
        if (blocker.installed() != last) ++changes;
        last = blocker.installed();
    }
    EXPECT_EQ(spy.size(), changes); // published only when it changes
}

TEST_F(BlockerFile, AFailedWriteIsShownInTheCurrentLanguageAndKeptAfterASuccess) {
    install();
    QDir().mkpath(layout.lockupFile()); // a folder where the file should be: it cannot be opened for writing
    QSignalSpy spy(&blocker, &Blocker::lastErrorChanged);
    blocker.apply({u"a.com"_s}, std::nullopt, true);
    ASSERT_TRUE(blocker.lastError().has_value());
    EXPECT_TRUE(blocker.lastError()->startsWith(u"Couldn't update the lockup: "_s));
    EXPECT_GT(blocker.lastError()->size(), QString(u"Couldn't update the lockup: "_s).size());
    EXPECT_EQ(spy.size(), 1);

    loc->setLang(Lang::fr);
    blocker.apply({u"a.com"_s}, std::nullopt, true);
    EXPECT_TRUE(blocker.lastError()->startsWith(u"Impossible de mettre à jour le périmètre : "_s));

    QDir(layout.lockupFile()).removeRecursively();
    blocker.apply({u"a.com"_s}, std::nullopt, true);
    EXPECT_EQ(file(), "#redirect 127.0.0.1\na.com\n");
    EXPECT_TRUE(blocker.lastError()->startsWith(u"Impossible"_s));
}
