// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing, switching and storing the interface language.
#include "engine/loc.h"
#include "fakes/fakes.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Language, AStoredChoiceWinsOnlyWhenItIsExactlyFrOrEn) {
    struct Case {
        std::optional<QString> stored;
        QStringList system;
        Lang expected;
    };
    const QList<Case> cases = {
        {u"en"_s, {u"fr-FR"_s}, Lang::en},
        {u"fr"_s, {u"en-US"_s}, Lang::fr},
        {u"EN"_s, {u"fr-FR"_s}, Lang::fr},
        {u"english"_s, {u"de-DE"_s}, Lang::fr},
        {u""_s, {u"en-GB"_s}, Lang::en},
        {std::nullopt, {u"en-GB"_s, u"fr-FR"_s}, Lang::en},
        {std::nullopt, {u"EN-us"_s}, Lang::en},
        {std::nullopt, {u"fr-CA"_s, u"en-US"_s}, Lang::fr},
        {std::nullopt, {u"de-DE"_s}, Lang::fr},
        {std::nullopt, {}, Lang::fr},
        // The portable locale counts as English.
        {std::nullopt, normalizePreferredLanguages({u"C"_s}), Lang::en},
        {std::nullopt, normalizePreferredLanguages({u"POSIX"_s}), Lang::en},
        {std::nullopt, normalizePreferredLanguages({u"C.UTF-8"_s}), Lang::en},
        {std::nullopt, normalizePreferredLanguages({u"fr-CA"_s, u"en"_s}), Lang::fr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolveLanguage(c.stored, c.system), c.expected)
            << c.stored.value_or(u"(none)"_s).toStdString() << " " << c.system.join(u',').toStdString();
}

TEST(Language, ResolvingWritesNothingAndSwitchingWritesOnce) {
    MemoryDefaults defaults;
    Loc loc(defaults, {u"en-US"_s});
    EXPECT_EQ(currentLang(), Lang::en);
    EXPECT_EQ(Loc::shared(), &loc);
    QSignalSpy spy(&loc, &Loc::langChanged);
    loc.setLang(Lang::en);
    EXPECT_TRUE(defaults.writes.isEmpty());

    loc.setLang(Lang::fr);
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(pick(u"Hello"_s, u"Bonjour"_s), u"Bonjour"_s);
    loc.setLangCode(u"EN"_s); // not a language
    EXPECT_EQ(loc.lang(), Lang::fr);
    loc.setLangCode(u"en"_s);
    ASSERT_EQ(defaults.writes.size(), 2);
    EXPECT_EQ(defaults.writes[0], (QPair<QString, QVariant>{u"oriflan_lang"_s, u"fr"_s}));
    EXPECT_EQ(defaults.writes[1].second.toString(), u"en"_s);

    // The next start reads the stored choice back, whatever the system says.
    EXPECT_EQ(Loc(defaults, {u"fr-FR"_s}).lang(), Lang::en);
}
