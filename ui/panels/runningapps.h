// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"
#include "platform/workspace.h"

#include <QList>
#include <QString>

// This application's own desktop-file id.
inline const QString kOwnAppID = QStringLiteral("app.oriflan.mivra");

// What "Add a running app" offers for a lockup: the regular applications that are running, each
// once, never this application itself nor one the lockup already blocks, sorted by name in the
// user's locale without regard to case. Identifiers are compared without case. Each candidate
// carries a fresh id.
QList<BlockedApp> runningAppCandidates(const QList<RunningApp>& running, const Lockup& lockup,
                                       const QString& ownID = kOwnAppID);
