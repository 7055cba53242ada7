// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/termination.h"

#include "engine/timermodel.h"

QuitAnswer terminationCheck(TimerModel& engine) {
    if (engine.gateLocked() && engine.lockKind() == LockKind::timer) return QuitAnswer::timerLockAlert;
    if (engine.gateLocked() && engine.lockKind() == LockKind::password) return QuitAnswer::passwordAlert;
    engine.releaseBlocking();
    return QuitAnswer::terminateNow;
}
