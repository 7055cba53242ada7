// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/sound.h"

struct ca_context;

// The desktop's own completion sound, through libcanberra.
class CanberraSound final : public Sound {
public:
    CanberraSound();
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void play() override;

private:
    ca_context* m_context = nullptr;
};
