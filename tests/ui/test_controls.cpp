// SPDX-License-Identifier: GPL-3.0-or-later
// The look and the shared controls: colours from text, the symbol table, the stepper, the chips
// and the language switcher.
#include "fakes/fakes.h"
#include "quickrig.h"

#include "engine/loc.h"
#include "ui/panels/panelkit.h"
#include "ui/style.h"
#include "ui/symbols.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(ColorFromHex, ParsesSixHexDigitsWithOrWithoutHash) {
    struct Case {
        std::optional<QString> text;
        std::optional<QColor> expected;
    };
    const QColor blue(0x4e, 0x80, 0xc4);
    const Case cases[] = {
        {u"#4E80C4"_s, blue}, {u"4E80C4"_s, blue}, {u"#4e80c4"_s, blue}, {u"#000000"_s, QColor(0, 0, 0)},
        {u"#FFF"_s, {}},      {u"#GGGGGG"_s, {}},  {u"#12345"_s, {}},    {u"#1234567"_s, {}},
        {u"+12345"_s, {}},    {u"##12345"_s, {}},  {u""_s, {}},          {std::nullopt, {}},
    };
    for (const Case& c : cases) {
        const auto got = colorFromHex(c.text);
        EXPECT_EQ(got.has_value(), c.expected.has_value()) << c.text.value_or(u"(none)"_s).toStdString();
        if (got && c.expected) {
            EXPECT_EQ(got->rgba(), c.expected->rgba());
        }
    }
}

TEST(Symbols, EverySymbolNamedByTheViewsHasAGlyph) {
    static const QRegularExpression named(uR"re((?:name|symbol|Symbol)\s*:\s*"([a-z0-9.]+)")re"_s);
    int seen = 0;
    QDirIterator it(u":/qt/qml/Mivra"_s, {u"*.qml"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        for (auto m = named.globalMatch(text); m.hasNext();) {
            const QString name = m.next().captured(1);
            ++seen;
            EXPECT_FALSE(symbolGlyph(name).text.isEmpty())
                << name.toStdString() << " in " << it.fileName().toStdString();
        }
    }
    EXPECT_GT(seen, 3);
    EXPECT_TRUE(symbolGlyph(u"no.such.symbol"_s).text.isEmpty());
    EXPECT_TRUE(symbolGlyph(u"movieclapper.fill"_s).filled);
    EXPECT_FALSE(symbolGlyph(u"movieclapper"_s).filled);
    EXPECT_EQ(symbolGlyph(u"movieclapper.fill"_s).text, symbolGlyph(u"movieclapper"_s).text);
}

struct ControlsTest : ::testing::Test {
    MemoryDefaults defaults;
    Loc loc{defaults, {u"en-US"_s}};
    QuickRig rig;
};

TEST_F(ControlsTest, StepperShowsSuffixOnlyWhenGivenAndStopsAtTheRangeEnds) {
    EXPECT_EQ(Style::stepperText(25, u"min"_s), u"25 min"_s);
    EXPECT_EQ(Style::stepperText(4, QString()), u"4"_s);

    auto* view =
        rig.load("import QtQuick\nimport Mivra\nStepperRow { width: 300; stepper: Stepper { label: \"Take\"; "
                 "value: 55; suffix: \"min\"; from: 5; to: 60; step: 10 } }");
    ASSERT_TRUE(view) << rig.errors.toStdString();
    // The row asks its stepper; the stepper's owner stores what it gives and sets the value back.
    auto* row = view->property("stepper").value<Stepper*>();
    ASSERT_TRUE(row);
    EXPECT_EQ(rig.find(u"stepperValue"_s)->property("text").toString(), u"55 min"_s);
    QSignalSpy modified(row, &Stepper::modified);
    rig.click(rig.find(u"stepperUp"_s));
    ASSERT_EQ(modified.size(), 1);
    EXPECT_EQ(modified[0][0].toInt(), 60); // clamped to the range, not 65
    row->setProperty("value", 60);
    EXPECT_FALSE(rig.find(u"stepperUp"_s)->isEnabled());
    rig.click(rig.find(u"stepperDown"_s));
    ASSERT_EQ(modified.size(), 2);
    EXPECT_EQ(modified[1][0].toInt(), 50);
}

TEST_F(ControlsTest, FlowChipsListsEachItemAndRemovesOnlyTheOneClicked) {
    auto* chips = rig.load(
        "import QtQuick\nimport Mivra\nFlowChips { width: 300 }",
        {{u"items"_s, QVariantList{QVariantMap{{u"id"_s, u"slack"_s}, {u"name"_s, u"Slack"_s}},
                                   QVariantMap{{u"id"_s, u"discord"_s}, {u"name"_s, u"Discord"_s}}}}});
    ASSERT_TRUE(chips) << rig.errors.toStdString();
    auto* first = rig.find(u"chip_slack"_s);
    auto* second = rig.find(u"chip_discord"_s);
    ASSERT_TRUE(first && second);
    EXPECT_GT(second->y(), first->y()); // one chip per line
    EXPECT_FALSE(rig.find(u"chipsEmpty"_s)->isVisible());
    QSignalSpy removed(chips, SIGNAL(remove(QString)));
    rig.click(rig.find(u"chipRemove_discord"_s));
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][0].toString(), u"discord"_s);

    chips->setProperty("items", QVariantList());
    EXPECT_TRUE(rig.find(u"chipsEmpty"_s)->isVisible());
    const QString english = rig.find(u"chipsEmpty"_s)->property("text").toString();
    loc.setLang(Lang::fr);
    EXPECT_NE(rig.find(u"chipsEmpty"_s)->property("text").toString(), english) << "follows the language";
}

TEST_F(ControlsTest, LanguageSwitcherChangesOnlyOnTheOtherChip) {
    ASSERT_TRUE(rig.load("import QtQuick\nimport Mivra\nLanguageSwitcher {}")) << rig.errors.toStdString();
    QSignalSpy switched(&loc, &Loc::langChanged);
    rig.click(rig.find(u"lang_en"_s));
    EXPECT_EQ(switched.size(), 0);
    EXPECT_TRUE(defaults.writes.isEmpty());
    rig.click(rig.find(u"lang_fr"_s));
    EXPECT_EQ(switched.size(), 1);
    EXPECT_EQ(loc.lang(), Lang::fr);
    EXPECT_EQ(defaults.value(QString::fromUtf16(Loc::key)).toString(), u"fr"_s);
    EXPECT_EQ(rig.find(u"lang_fr"_s)->property("current").toBool(), true);
    EXPECT_EQ(rig.find(u"lang_en"_s)->property("current").toBool(), false);
}

TEST(FieldBox, PadsItsTextOnceTenByTen) {
    QuickRig quick;
    QQuickItem* box =
        quick.load("import QtQuick\nimport Mivra\nFieldBox { size: 12; echoMode: TextInput.Password }");
    ASSERT_TRUE(box) << quick.errors.toStdString();
    auto* input = box->property("input").value<QQuickItem*>();
    ASSERT_TRUE(input);
    // 7 points above and below the text, not the field's own padding added to the frame's again.
    const qreal text = input->property("contentHeight").toReal();
    EXPECT_NEAR(box->height(), text + 14, 0.5);
    EXPECT_LT(box->height(), 34);
    EXPECT_EQ(input->property("passwordCharacter").toString(), u"\u2022"_s);
}
