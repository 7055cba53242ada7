// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/helperstate.h"

#include "blocking/rootside.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

namespace {
// A link in a .wants folder counts even when it dangles from where it is read (a fake root).
bool linked(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

qint64 parseHelperVersion(const QByteArray& bytes) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(bytes);
    if (decode.hasError()) return -1;
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ++i;
    if (i == t.size()) return -1;
    for (qsizetype k = i; k < t.size(); ++k)
        if (t[k] < u'0' || t[k] > u'9') return -1;
    bool ok = false;
    const qint64 v = t.toLongLong(&ok); // accepts the sign; fails outside the 64-bit range
    return ok ? v : -1;
}

QList<EnabledUnit> enabledHelperUnits() {
    // Each path or timer unit is wanted by its kind's target (paths.target, timers.target), as
    // its [Install] section says.
    QList<EnabledUnit> units;
    for (const QString& unit : RootSide(RootPlatform::Linux, {}).enabledJobs())
        units.append({unit, unit.section(u'.', -1) + QStringLiteral("s.target")});
    return units;
}

HelperState readHelperState(const RootLayout& layout) {
    HelperState state;
    QFile f(layout.versionFile());
    if (f.open(QIODevice::ReadOnly)) {
        state.present = parseHelperVersion(f.readAll()) >= RootSide::helperVersion;
    }
    const QString lockupUnit = u'/' + RootSide::linuxUnit(QStringLiteral("lockup.path"));
    state.packaged =
        !layout.packageUnitDirectory.isEmpty() && QFileInfo::exists(layout.packageUnitDirectory + lockupUnit);
    if (!state.packaged) {
        // The application's own install enables the units in the same run that writes the version.
        state.enabled = state.present;
        return state;
    }
    state.enabled = true;
    for (const EnabledUnit& u : enabledHelperUnits())
        state.enabled = state.enabled && linked(layout.enableDirectory + u'/' + u.wantedBy +
                                                QStringLiteral(".wants/") + u.unit);
    return state;
}
