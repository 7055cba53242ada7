// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/runningapps.h"

#include <QCollator>
#include <QLocale>
#include <QSet>

#include <algorithm>

QList<BlockedApp> runningAppCandidates(const QList<RunningApp>& running, const Lockup& lockup,
                                       const QString& ownID) {
    QSet<QString> taken;
    for (const BlockedApp& a : lockup.apps)
        taken.insert(a.bundleID.toLower());
    const QString own = ownID.toLower();

    QList<BlockedApp> out;
    for (const RunningApp& app : running) {
        if (!app.regular || app.bundleID.isEmpty() || app.name.isEmpty()) continue;
        const QString id = app.bundleID.toLower();
        if (id == own || taken.contains(id)) continue;
        taken.insert(id);
        out.append(BlockedApp{QUuid::createUuid(), app.name, app.bundleID});
    }
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(out.begin(), out.end(), [&collator](const BlockedApp& a, const BlockedApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return out;
}
