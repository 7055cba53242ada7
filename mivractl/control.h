// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What mivractl prints, from the properties Mivra publishes on the bus.
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

namespace Ctl {

enum Exit { ok = 0, refused = 1, usage = 2, notRunning = 3, notAnswering = 4 };

// How long mivractl waits for Mivra, all calls together: a hung or stopped Mivra is told within it.
constexpr int kAnswerMs = 1500;
// How long `show` waits for the session bus to start a Mivra that is not running.
constexpr int kActivateMs = 25000;

// "en" or "fr": Mivra's own choice when it runs, else the stored one, else the system's.
QString language(const QVariantMap& properties);
// The English or the French text by `lang`.
inline QString pick(const QString& lang, const QString& en, const QString& fr) {
    return lang == u"en" ? en : fr;
}

// Properties as GetAll returns them (structures still marshalled), made plain: structures become
// string lists.
QVariantMap plain(const QVariantMap& properties);

// "rolling 12:34 · Deep work", "rolling 12:34 · paused · Deep work".
QString statusLine(const QVariantMap& p);
// Every property by name, structures as objects.
QJsonObject statusJson(const QVariantMap& p);
// The line a bar module reads: text, tooltip, class (the phase), percentage (progress of the phase).
QJsonObject barJson(const QVariantMap& p);
// The same when Mivra is not running.
QJsonObject barStopped(const QString& lang);

QString helpText(const QString& lang);

} // namespace Ctl
