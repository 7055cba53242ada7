// SPDX-License-Identifier: GPL-3.0-or-later
#include "mivractl/helpercmd.h"

#include "blocking/rootside.h"
#include "mivractl/control.h"
#include "platform/privilegedrunner.h"

#include <QDir>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace Ctl {

int helperStatus(const RootLayout& layout, const QString& lang, QString& line) {
    const HelperState s = readHelperState(layout);
    if (!s.present && !s.packaged) {
        line = pick(lang, u"helper: not installed"_s, u"assistant : non installé"_s);
        return notRunning;
    }
    const QString owner = s.packaged ? pick(lang, u"by the mivra package"_s, u"par le paquet mivra"_s)
                                     : pick(lang, u"by Mivra"_s, u"par Mivra"_s);
    if (!s.installed()) {
        line = pick(lang, u"helper: installed "_s, u"assistant : installé "_s) + owner +
               pick(lang, u", units disabled"_s, u", unités désactivées"_s);
        return refused;
    }
    line = pick(lang, u"helper: installed "_s, u"assistant : installé "_s) + owner +
           pick(lang, u", units enabled"_s, u", unités activées"_s);
    return ok;
}

int helperRemove(const RootLayout& layout, const QString& stagingDirectory, PrivilegedRunner& runner,
                 const QString& lang, QString& message) {
    const HelperState s = readHelperState(layout);
    if (s.packaged) {
        message = pick(lang, u"the mivra package owns the helper: remove it with “sudo apt remove mivra”."_s,
                       u"le paquet mivra possède l'assistant : retire-le avec « sudo apt remove mivra »."_s);
        return refused;
    }
    if (!s.present) {
        message = pick(lang, u"the helper is not installed."_s, u"l'assistant n'est pas installé."_s);
        return ok;
    }
    // As the settings panel does; the script travels whole in pkexec's arguments.
    const QString script = RootSide(RootPlatform::Linux, layout).removalScript();
    const PrivilegedResult r = runner.runScript(stagingDirectory + u"/run.sh"_s, script);
    if (!r.started) {
        message = r.startError;
        return refused;
    }
    if (r.exitCode == 126) {
        message = pick(lang, u"cancelled."_s, u"annulé."_s);
        return refused;
    }
    if (r.exitCode != 0 || readHelperState(layout).present) {
        QStringDecoder decode(QStringDecoder::Utf8);
        const QString text = QString(decode(r.standardError)).trimmed();
        message = text.isEmpty() ? pick(lang, u"the helper could not be removed."_s,
                                        u"l'assistant n'a pas pu être retiré."_s)
                                 : text;
        return refused;
    }
    // What the application staged to install the helper goes with it.
    QDir(stagingDirectory).removeRecursively();
    message = pick(lang, u"helper removed."_s, u"assistant retiré."_s);
    return ok;
}

} // namespace Ctl
