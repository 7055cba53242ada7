// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/canberrasound.h"

#include <canberra.h>

CanberraSound::CanberraSound() {
    if (ca_context_create(&m_context) != CA_SUCCESS) {
        m_context = nullptr;
        return;
    }
    ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Mivra", CA_PROP_APPLICATION_ID,
                            "app.oriflan.mivra", nullptr);
}

CanberraSound::~CanberraSound() {
    if (m_context) ca_context_destroy(m_context);
}

void CanberraSound::play() {
    if (!m_context) return;
    // Asynchronous: returns at once. Without a sound server both calls simply fail.
    if (ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "alarm-clock-elapsed", CA_PROP_EVENT_DESCRIPTION,
                        "Take completed", nullptr) != CA_SUCCESS)
        ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "complete", nullptr);
}
