// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <optional>

class Clock;

// Where a take stands when the engine asks what to block.
struct TakeState {
    Phase phase = Phase::standby;
    qint64 remaining = 0; // seconds left in the phase
    bool running = false;
    bool gateLocked = false;
    bool openSetActive = false;
};

// What a locked take has blocked so far: while the gate is locked the block only grows.
struct HeldBlock {
    QStringList sites;
    QList<BlockedApp> apps;
    bool isEmpty() const { return sites.isEmpty() && apps.isEmpty(); }
};

// What follows from the settings, the lockups and the take: the engine applies it.
struct BlockingPlan {
    QStringList sites;               // for the lockup file; none lifts the block
    QList<BlockedApp> apps;          // for the application monitor; none stops it
    std::optional<QDateTime> expiry; // where the block ends by itself; none while nothing blocks
    bool blockPage = false;          // blocked sites show the Closed Set page
    HeldBlock held;                  // what the locked take holds from now on
    bool holding = false;            // it holds something the lockups and settings no longer ask for
};

// The 30-second bucket of an expiry (0 for none): the lockup is written again when it moves.
inline qint64 expiryBucket(const std::optional<QDateTime>& expiry) {
    return expiry ? expiry->toMSecsSinceEpoch() / 30000 : 0;
}

// The chosen lockup, else the first; null without lockups. Points into `lockups`.
const Lockup* lockupInEffect(const Settings& settings, const QList<Lockup>& lockups);

// Whether anything is blocked: what the lockups and settings ask for, or what a locked take holds.
bool blockingActive(const Settings& settings, const QList<Lockup>& lockups, const TakeState& take,
                    const HeldBlock& held);

// Where the block ends by itself: a blocking phase's end plus five seconds (half a minute more
// while paused, since a paused end moves with the clock), allowance mode's next midnight in the
// user's zone, or none.
std::optional<QDateTime> blockExpiry(const Settings& settings, const QList<Lockup>& lockups,
                                     const TakeState& take, const HeldBlock& held, const Clock& clock);

// What to block now. While the gate is locked the block only grows: what is taken out of the
// lockup, another lockup chosen, blocking switched off, all wait for the take to end.
BlockingPlan blockingPlanFor(const Settings& settings, const QList<Lockup>& lockups, const TakeState& take,
                             const HeldBlock& held, const Clock& clock);
