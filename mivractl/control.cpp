// SPDX-License-Identifier: GPL-3.0-or-later
#include "mivractl/control.h"

#include "engine/loc.h"
#include "platform/linux/settingsdefaults.h"

#include <QDBusArgument>
#include <QDateTime>
#include <QJsonArray>
#include <QLocale>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace Ctl {

namespace {
QStringList pairOf(const QVariant& v) {
    if (v.canConvert<QDBusArgument>()) {
        const QDBusArgument a = v.value<QDBusArgument>();
        QString first, second;
        a.beginStructure();
        a >> first >> second;
        a.endStructure();
        return {first, second};
    }
    return v.toStringList();
}

QString timeOf(const QString& iso) {
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODate);
    return t.isValid() ? t.toLocalTime().toString(u"HH:mm"_s) : iso;
}
} // namespace

QString language(const QVariantMap& properties) {
    QString running = properties.value(u"Language"_s).toString();
    if (running == u"en" || running == u"fr") return running;
    // Mivra's own resolution: the stored choice, else the system's preferred languages.
    const SettingsDefaults stored;
    return langRawValue(
        resolveLanguage(stored.string(QString::fromUtf16(Loc::key)), systemPreferredLanguages()));
}

QVariantMap plain(const QVariantMap& properties) {
    QVariantMap out = properties;
    for (const char16_t* key : {u"ActiveLockup", u"CurrentMeeting", u"NextMeeting"}) {
        const QString k = QString::fromUtf16(key);
        if (out.contains(k)) out.insert(k, pairOf(out.value(k)));
    }
    return out;
}

QString statusLine(const QVariantMap& p) {
    const QString lang = language(p);
    QString line = p.value(u"PhaseTitle"_s).toString().toLower() + u' ' + p.value(u"ClockText"_s).toString();
    if (!p.value(u"Running"_s).toBool() && p.value(u"Phase"_s).toString() != u"standby")
        line += u" · "_s + pick(lang, u"paused"_s, u"en pause"_s);
    const QStringList lockup = p.value(u"ActiveLockup"_s).toStringList();
    if (lockup.size() == 2 && !lockup[1].isEmpty()) line += u" · "_s + lockup[1];
    return line;
}

QJsonObject statusJson(const QVariantMap& p) {
    QJsonObject o;
    for (auto it = p.cbegin(); it != p.cend(); ++it) {
        const QStringList pair = it.value().toStringList();
        if (it.key() == u"ActiveLockup")
            o.insert(it.key(), QJsonObject{{u"id"_s, pair.value(0)}, {u"name"_s, pair.value(1)}});
        else if (it.key().endsWith(u"Meeting"))
            o.insert(it.key(), QJsonObject{{u"title"_s, pair.value(0)}, {u"start"_s, pair.value(1)}});
        else
            o.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return o;
}

QJsonObject barJson(const QVariantMap& p) {
    const QString lang = language(p);
    QString text = p.value(u"StatusTitle"_s).toString().trimmed();
    if (text.isEmpty()) text = p.value(u"ClockText"_s).toString();

    QStringList tip{p.value(u"PhaseTitle"_s).toString() + u" · "_s + p.value(u"ClockText"_s).toString()};
    if (p.value(u"GateLocked"_s).toBool()) tip << pick(lang, u"Gate locked"_s, u"Barrière verrouillée"_s);
    const QStringList lockup = p.value(u"ActiveLockup"_s).toStringList();
    if (lockup.value(1).size()) tip << lockup[1];
    const qint64 takes = p.value(u"TakesToday"_s).toLongLong();
    tip << QString::number(takes) + u' ' +
               (takes == 1 ? pick(lang, u"take printed"_s, u"mivra imprimée"_s)
                           : pick(lang, u"takes printed"_s, u"mivras imprimées"_s)) +
               u" · "_s + focusedDurationText(p.value(u"FocusedSeconds"_s).toLongLong());
    const QStringList now = p.value(u"CurrentMeeting"_s).toStringList();
    const QStringList next = p.value(u"NextMeeting"_s).toStringList();
    if (now.value(0).size()) tip << pick(lang, u"Now: "_s, u"Là : "_s) + now[0];
    if (next.value(0).size())
        tip << pick(lang, u"Next: "_s, u"Suivant : "_s) + next[0] + u' ' + timeOf(next.value(1));

    const qint64 length = p.value(u"PhaseLength"_s).toLongLong();
    const qint64 remaining = p.value(u"Remaining"_s).toLongLong();
    const qint64 percent = length > 0 ? std::clamp<qint64>((length - remaining) * 100 / length, 0, 100) : 0;
    return {{u"text"_s, text},
            {u"tooltip"_s, tip.join(u'\n')},
            {u"class"_s, p.value(u"Phase"_s).toString()},
            {u"percentage"_s, percent}};
}

QJsonObject barStopped(const QString& lang) {
    return {{u"text"_s, QString()},
            {u"tooltip"_s, pick(lang, u"Mivra isn't running."_s, u"Mivra n'est pas lancé."_s)},
            {u"class"_s, u"stopped"_s},
            {u"percentage"_s, 0}};
}

QString helpText(const QString& lang) {
    if (lang == u"en")
        return uR"(Usage: mivractl COMMAND

Drives Mivra, which must be running (show starts it), under the same gate as its popover.

  status         one line: the phase, the clock and the lockup
  status --json  every property of Mivra as one JSON object
  watch          one JSON line (text, tooltip, class, percentage) per change, for status bars
  watch --plain  the text alone, one line per change, for bars that show the lines they read
  roll           roll a take, or resume a paused one
  pause          hold the clock
  cut            cut the take; the password is read from standard input when the gate asks for one
  skip           end a setup or a wrap
  open-set       open the set, spending today's allowance
  close-set      close the set
  show           open Mivra's popover
  quit           quit Mivra; the password is read from standard input when the gate asks for one
  helper status  whether the root helper is installed (by Mivra or by the mivra package) and enabled
  helper remove  remove the helper Mivra installed, as the settings panel's Remove does
  --version      print mivractl's version

Exit status: 0 done, 1 refused, 2 wrong usage, 3 Mivra is not running, 4 Mivra does not answer.
)"_s;
    return uR"(Usage : mivractl COMMANDE

Pilote Mivra, qui doit être lancé (show le lance), derrière la même barrière que son popover.

  status         une ligne : la phase, le chrono et le périmètre
  status --json  toutes les propriétés de Mivra en un objet JSON
  watch          une ligne JSON (text, tooltip, class, percentage) par changement, pour les barres d'état
  watch --plain  le texte seul, une ligne par changement, pour les barres qui affichent ce qu'elles lisent
  roll           tourner une mivra, ou reprendre celle en pause
  pause          mettre le chrono en pause
  cut            couper la mivra ; le mot de passe est lu sur l'entrée standard si la barrière le demande
  skip           terminer un réglage ou une pause longue
  open-set       ouvrir le plateau, sur le quota du jour
  close-set      fermer le plateau
  show           ouvrir le popover de Mivra
  quit           quitter Mivra ; le mot de passe est lu sur l'entrée standard si la barrière le demande
  helper status  si l'assistant root est installé (par Mivra ou par le paquet mivra) et activé
  helper remove  retirer l'assistant installé par Mivra, comme « Retirer » dans les réglages
  --version      afficher la version de mivractl

Code de sortie : 0 fait, 1 refusé, 2 mauvais usage, 3 Mivra n'est pas lancé, 4 Mivra ne répond pas.
)"_s;
}

} // namespace Ctl
