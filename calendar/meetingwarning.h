// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calendar/calendarservice.h"
#include "engine/records.h"

#include <QDateTime>
#include <QString>

#include <optional>

// A notification about the next meeting, a few minutes before it starts.
struct MeetingWarning {
    QString key; // the meeting's warnKey, remembered so that it is warned once
    QString title;
    QString body;
};

// The warning due at `now` for the next meeting, or none: the calendar link and the warnings on,
// the meeting still ahead and within the lead time (at least one minute), and not the meeting
// warned last. Texts in the current language.
std::optional<MeetingWarning> meetingWarningFor(const Settings& settings,
                                                const std::optional<UpcomingEvent>& next,
                                                const QDateTime& now, const QString& lastWarned);
