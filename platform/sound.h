// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Plays the short completion sound. Silent when there is no sound server.
class Sound {
public:
    virtual ~Sound() = default;
    virtual void play() = 0;
};
