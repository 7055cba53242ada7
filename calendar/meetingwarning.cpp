// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/meetingwarning.h"

#include "engine/loc.h"

#include <algorithm>
#include <cstdint>

using namespace Qt::StringLiterals;

std::optional<MeetingWarning> meetingWarningFor(const Settings& settings,
                                                const std::optional<UpcomingEvent>& next,
                                                const QDateTime& now, const QString& lastWarned) {
    if (!settings.calendarEnabled || !settings.meetingWarnEnabled || !next) return std::nullopt;
    const qint64 s = now.secsTo(next->start);
    const qint64 lead = std::max<qint64>(settings.meetingWarnMinutes, 1);
    // A lead time too large to be meant in minutes still warns, but never overflows.
    const qint64 window = lead > (INT64_MAX / 60) ? INT64_MAX : lead * 60;
    if (s <= 0 || s > window) return std::nullopt;
    const QString key = next->warnKey();
    if (key == lastWarned) return std::nullopt;

    const QString n = QString::number(std::max<qint64>((s + 59) / 60, 1));
    const QString hint =
        next->joinURL ? pick(u" Join link's in the slate."_s, u" Le lien est sur le clap."_s) : QString();
    MeetingWarning w;
    w.key = key;
    w.title = pick(u"Heads up — "_s, u"Attention — "_s) + next->title;
    w.body = pick(u"Starts in "_s + n + u" min."_s, u"Commence dans "_s + n + u" min."_s) + hint;
    return w;
}
