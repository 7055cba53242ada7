// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TimerModel;

// What a request to quit comes to.
enum class QuitAnswer {
    terminateNow,   // the gate is open (or locked with no kind): blocking released, quit
    timerLockAlert, // locked to the timer: show the timer-lock alert and stay
    passwordAlert,  // locked with a password: ask for it and stay until it is right
};

// The termination check, run for every way of quitting. Releases the blocking when it answers
// terminateNow.
QuitAnswer terminationCheck(TimerModel& engine);
