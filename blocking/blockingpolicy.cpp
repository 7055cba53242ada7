// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/blockingpolicy.h"

#include "engine/userzone.h"

#include <QSet>

namespace {

bool phaseBlocks(Phase phase, const Settings& s) {
    return phase == Phase::rolling ||
           ((phase == Phase::setup || phase == Phase::wrap) && s.blockDuringBreaks);
}

// What the lockups and settings ask to block, without what a locked take holds.
bool policyActive(const Settings& s, const QList<Lockup>& lockups, const TakeState& take) {
    const bool base = phaseBlocks(take.phase, s);
    const bool closed = s.allowanceEnabled ? (base || !take.openSetActive) : base;
    return closed && lockupInEffect(s, lockups) && (s.blockWebsites || s.blockApps);
}

// Adds to `held` what `asked` has that it lacks; true when `held` keeps something `asked` lacks.
// Items are the same when their keys are; sets keep it linear for lockups of any size.
template <class T, class Key> bool holdAlso(QList<T>& held, const QList<T>& asked, Key key) {
    QSet<QString> heldKeys, askedKeys;
    heldKeys.reserve(held.size() + asked.size());
    askedKeys.reserve(asked.size());
    for (const T& h : held)
        heldKeys.insert(key(h));
    for (const T& a : asked) {
        const QString k = key(a);
        askedKeys.insert(k);
        if (!heldKeys.contains(k)) {
            heldKeys.insert(k);
            held.append(a);
        }
    }
    return heldKeys.size() > askedKeys.size();
}

} // namespace

const Lockup* lockupInEffect(const Settings& settings, const QList<Lockup>& lockups) {
    if (settings.activeLockupID) {
        for (const Lockup& l : lockups)
            if (l.id == *settings.activeLockupID) return &l;
    }
    return lockups.isEmpty() ? nullptr : &lockups.first();
}

bool blockingActive(const Settings& settings, const QList<Lockup>& lockups, const TakeState& take,
                    const HeldBlock& held) {
    return policyActive(settings, lockups, take) || (take.gateLocked && !held.isEmpty());
}

std::optional<QDateTime> blockExpiry(const Settings& settings, const QList<Lockup>& lockups,
                                     const TakeState& take, const HeldBlock& held, const Clock& clock) {
    if (!blockingActive(settings, lockups, take, held)) return std::nullopt;
    // A paused phase's end moves with the clock: its expiry is written with half a minute more, so
    // that it is still ahead when the next 30-second bucket writes it again.
    if (phaseBlocks(take.phase, settings))
        return clock.now().addSecs(take.remaining + 5 + (take.running ? 0 : 30));
    if (settings.allowanceEnabled) {
        const QDateTime now = clock.now();
        return startOfNextDay(now, userTimeZone(clock)).value_or(now.addSecs(28800));
    }
    return std::nullopt;
}

BlockingPlan blockingPlanFor(const Settings& settings, const QList<Lockup>& lockups, const TakeState& take,
                             const HeldBlock& held, const Clock& clock) {
    const bool active = policyActive(settings, lockups, take);
    const Lockup* lockup = lockupInEffect(settings, lockups);

    BlockingPlan plan;
    if (active && settings.blockApps && lockup) plan.apps = lockup->apps;
    if (active && settings.blockWebsites && lockup) plan.sites = lockup->sites;
    plan.held = held;
    if (take.gateLocked) {
        plan.holding = holdAlso(plan.held.sites, plan.sites, [](const QString& s) { return s; });
        plan.holding =
            holdAlso(plan.held.apps, plan.apps, [](const BlockedApp& a) { return a.bundleID.toLower(); }) ||
            plan.holding;
        plan.sites = plan.held.sites;
        plan.apps = plan.held.apps;
    }
    plan.expiry = blockExpiry(settings, lockups, take, plan.held, clock);
    plan.blockPage = settings.blockPage;
    return plan;
}
