// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/rootlayout.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What is on disk of the root helper: read from files alone, so that the application and mivractl
// agree and tests can lay any state out under a folder.
struct HelperState {
    bool present = false;  // a version file of a version the application accepts
    bool packaged = false; // the units are a distribution package's
    bool enabled = false;  // the units that start the helper are enabled
    bool installed() const { return present && enabled; }
};

HelperState readHelperState(const RootLayout& layout);

// Parses a version file's text; -1 when it holds no plain signed decimal integer.
qint64 parseHelperVersion(const QByteArray& bytes);

// The units `systemctl enable` links, each with the target that wants it.
struct EnabledUnit {
    QString unit;
    QString wantedBy;
};
QList<EnabledUnit> enabledHelperUnits();
