#include "ui/panels/schedulepanel.h"

#include "panelrig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct SchedulePanelTest : ::testing::Test {
    EngineRig rig;
    std::unique_ptr<SchedulePanelModel> panel;
    void open(Lang lang = Lang::en) {
        rig.start(lang);
        panel = std::make_unique<SchedulePanelModel>(*rig.engine, nullptr);
    }
    QVariantMap card(int i) { return panel->cards().value(i).toMap(); }
    QString id(int i) { return card(i)[u"id"_s].toString(); }
    const ScheduleBlock& block(int i) { return rig.engine->schedules()[i]; }
    QString letters(int i) {
        QString out;
        for (const QVariant& d : card(i)[u"days"_s].toList()) out += d.toMap()[u"letter"_s].toString();
        return out;
    }
};
} // namespace

TEST_F(SchedulePanelTest, AddShowsACardWithItsDefaults) {
    open();
    EXPECT_TRUE(panel->cards().isEmpty());
    panel->add();
    ASSERT_EQ(panel->cards().size(), 1);
    EXPECT_EQ(card(0)[u"timeText"_s], u"09:00"_s);
    EXPECT_EQ(card(0)[u"lengthText"_s], u"· 25m"_s);
    EXPECT_EQ(letters(0), u"SMTWTFS"_s);
    QString on;
    for (const QVariant& d : card(0)[u"days"_s].toList()) on += d.toMap()[u"on"_s].toBool() ? u'x' : u'.';
    EXPECT_EQ(on, u".xxxxx."_s) << "Monday to Friday, Sunday first";
    EXPECT_EQ(card(0)[u"lockIndex"_s].toInt(), 1);
    rig.loc->setLang(Lang::fr);
    EXPECT_EQ(letters(0), u"DLMMJVS"_s);
}

TEST_F(SchedulePanelTest, WeekdaysToggleAndStaySorted) {
    open();
    panel->add();
    panel->toggleWeekday(id(0), 1);
    panel->toggleWeekday(id(0), 4);
    panel->toggleWeekday(id(0), 7);
    panel->toggleWeekday(id(0), 8);
    EXPECT_EQ(block(0).weekdays, (QList<int>{1, 2, 3, 5, 6, 7}));
    rig.start();
    EXPECT_EQ(rig.engine->schedules()[0].weekdays, (QList<int>{1, 2, 3, 5, 6, 7})) << "stored";
}

TEST_F(SchedulePanelTest, SteppersKeepTheirRangesAndMoveFromOffStepValues) {
    rig.writeData(u"schedules.json"_s, R"([{"id":"6F1C2B8E-0000-4000-8000-000000000001","enabled":true,"weekdays":[2],
        "startHour":23,"startMinute":7,"durationMin":238,"lockGate":true,"lockKind":"timer"}])");
    open();
    ASSERT_EQ(panel->cards().size(), 1);
    EXPECT_EQ(card(0)[u"timeText"_s], u"23:07"_s) << "kept until the stepper is used";
    panel->step(id(0), u"startMinute"_s, +1);
    EXPECT_EQ(block(0).startMinute, 12);
    panel->step(id(0), u"startMinute"_s, -1);
    panel->step(id(0), u"startMinute"_s, -1);
    panel->step(id(0), u"startMinute"_s, -1);
    EXPECT_EQ(block(0).startMinute, 0);
    panel->step(id(0), u"startHour"_s, +1);
    EXPECT_EQ(block(0).startHour, 23);
    panel->step(id(0), u"durationMin"_s, +1);
    EXPECT_EQ(block(0).durationMin, 240);
    const QVariantMap duration = card(0)[u"steppers"_s].toMap()[u"durationMin"_s].toMap();
    EXPECT_FALSE(duration[u"canUp"_s].toBool());
    EXPECT_EQ(duration[u"text"_s], u"240 min"_s);
    EXPECT_EQ(card(0)[u"steppers"_s].toMap()[u"startHour"_s].toMap()[u"text"_s], u"23"_s);
}

TEST_F(SchedulePanelTest, LockupPickerWithAbsentAndDanglingLockups) {
    open();
    const QList<Lockup> lockups = rig.engine->lockups();
    ASSERT_EQ(lockups.size(), 2);
    QList<ScheduleBlock> blocks(3);
    for (ScheduleBlock& b : blocks) b.id = QUuid::createUuid();
    blocks[1].lockupID = lockups[1].id;
    blocks[2].lockupID = QUuid::createUuid(); // a deleted lockup
    rig.engine->setSchedules(blocks);

    EXPECT_EQ(card(0)[u"lockupIndex"_s].toInt(), 0) << "none: the first is shown";
    EXPECT_FALSE(block(0).lockupID.has_value()) << "…and nothing is stored";
    EXPECT_EQ(card(1)[u"lockupIndex"_s].toInt(), 1);
    EXPECT_EQ(card(2)[u"lockupIndex"_s].toInt(), -1) << "dangling: no entry selected";
    panel->chooseLockup(id(2), 0);
    EXPECT_EQ(block(2).lockupID, lockups[0].id);

    rig.engine->setLockups({});
    EXPECT_EQ(card(0)[u"lockupIndex"_s].toInt(), -1) << "no lockups: nothing shown";
    panel->chooseLockup(id(0), 0);
    EXPECT_FALSE(block(0).lockupID.has_value());
}

TEST_F(SchedulePanelTest, LockPickerKeepsTheKindThroughOpen) {
    open();
    panel->add();
    panel->chooseLock(id(0), 2);
    EXPECT_TRUE(block(0).lockGate);
    EXPECT_EQ(block(0).lockKind, LockKind::password) << "accepted without a gate password";
    panel->chooseLock(id(0), 0);
    EXPECT_FALSE(block(0).lockGate);
    EXPECT_EQ(block(0).lockKind, LockKind::password);
    EXPECT_EQ(card(0)[u"lockIndex"_s].toInt(), 0);
    panel->chooseLock(id(0), 2);
    EXPECT_EQ(card(0)[u"lockIndex"_s].toInt(), 2);
    panel->chooseLock(id(0), 1);
    EXPECT_EQ(block(0).lockKind, LockKind::timer);
}

TEST_F(SchedulePanelTest, DeleteAndEditByIdKeepTheOthersInOrder) {
    open();
    for (int i = 0; i < 3; ++i) panel->add();
    const QString first = id(0), middle = id(1), last = id(2);
    panel->setEnabled(last, false);
    panel->remove(middle);
    ASSERT_EQ(panel->cards().size(), 2);
    EXPECT_EQ(id(0), first);
    EXPECT_EQ(id(1), last);
    EXPECT_FALSE(card(1)[u"enabled"_s].toBool());
    panel->setEnabled(middle, true); // gone: draws and edits nothing
    panel->remove(u"not an id"_s);
    EXPECT_EQ(panel->cards().size(), 2);
    rig.start();
    EXPECT_EQ(rig.engine->schedules().size(), 2);
}
