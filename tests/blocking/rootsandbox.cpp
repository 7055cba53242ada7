// SPDX-License-Identifier: GPL-3.0-or-later
#include "rootsandbox.h"

#include "fakes/fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
// Each real folder and the sandbox folder mounted over it. The parents of the root side's own
// folders are covered, so that the scripts can create and remove those folders for real.
struct Mount {
    QString inside, folder;
};
const Mount mounts[] = {{u"/var/lib"_s, u"var-lib"_s},
                        {u"/var/log"_s, u"var-log"_s},
                        {u"/usr/local"_s, u"usr-local"_s},
                        {u"/etc"_s, u"etc"_s}};
} // namespace

QString RootSandbox::unavailable() {
    static const QString reason = []() -> QString {
        if (::geteuid() != 0) return u"the root-side scripts run for real only as root"_s;
        RootSandbox probe;
        if (probe.run(u"test -f /etc/hosts"_s).status != 0)
            return u"unshare --mount with an overlay on /etc is not available here"_s;
        return QString();
    }();
    return reason;
}

RootSandbox::RootSandbox(bool hostsMounted) : m_hostsMounted(hostsMounted) {
    // For a look afterwards: MIVRA_KEEP_SANDBOX=1 keeps the folder and says where it is.
    if (qEnvironmentVariableIsSet("MIVRA_KEEP_SANDBOX")) {
        m_dir.setAutoRemove(false);
        qWarning("sandbox kept in %s", qPrintable(m_dir.path()));
    }
    const QByteArray s = path().toUtf8();
    for (const Mount& m : mounts)
        QDir().mkpath(path() + u'/' + m.folder);
    QDir().mkpath(path() + u"/etc-work"_s);
    QDir().mkpath(path() + u"/stubs"_s);
    write(outside(u"/etc/hosts"_s), "127.0.0.1 localhost\n");
    clearCalls();
    for (const QString& tool : {u"systemctl"_s, u"resolvectl"_s, u"nscd"_s, u"pkexec"_s})
        addStub(tool);
    // pkexec then hands the command the user id it would and runs it; under a strict umask, so
    // that the scripts must set every mode themselves.
    write(pkexecStub(),
          read(pkexecStub()) + "[ \"$1\" = --disable-internal-agent ] && shift\nPKEXEC_UID=$(cat '" + s +
              "/pkexec-uid' 2>/dev/null || echo 4242)\nexport PKEXEC_UID PATH='" + s +
              "/stubs':\"$PATH\"\n[ -f '" + s + "/tamper' ] && bash '" + s +
              "/tamper'\numask 077\nexec \"$@\"\n",
          0755);

    QByteArray inside = "#!/bin/bash\nset -e\nmount -t overlay overlay -o lowerdir=/etc,upperdir='" + s +
                        "/etc',workdir='" + s + "/etc-work' /etc\n";
    for (const Mount& m : mounts)
        if (m.inside != u"/etc"_s)
            inside += "mount --bind '" + s + '/' + m.folder.toUtf8() + "' " + m.inside.toUtf8() + '\n';
    if (m_hostsMounted) inside += "mount --bind '" + s + "/hosts' /etc/hosts\n";
    inside += "export PATH='" + s + "/stubs':\"$PATH\"\nset +e\nexec \"$@\"\n";
    write(path() + u"/inside"_s, inside, 0755);
    write(path() + u"/enter"_s,
          "#!/bin/sh\nexec unshare --mount --propagation private /bin/bash '" + s + "/inside' \"$@\"\n",
          0755);
    write(sandboxedPkexec(), "#!/bin/sh\nexec '" + s + "/enter' pkexec \"$@\"\n", 0755);
}

void RootSandbox::addStub(const QString& tool) const {
    // Records its call on one line, then exits with the status set for it, if any.
    const QByteArray s = path().toUtf8(), t = tool.toUtf8();
    write(path() + u"/stubs/"_s + tool,
          "#!/bin/sh\nprintf '%s\\n' \"$(printf '%s' \"" + t + " $*\" | tr '\\n' ' ')\" >> '" + s +
              "/calls.log'\nif [ -f '" + s + "/status." + t + "' ]; then exit \"$(cat '" + s + "/status." +
              t + "')\"; fi\n",
          0755);
}

QString RootSandbox::outside(const QString& inside) const {
    if (inside == u"/etc/hosts"_s && m_hostsMounted) return path() + u"/hosts"_s;
    for (const Mount& m : mounts)
        if (inside == m.inside || inside.startsWith(m.inside + u'/'))
            return path() + u'/' + m.folder + inside.mid(m.inside.size());
    return inside;
}

RootSandbox::Result RootSandbox::run(const QString& command, bool isolated) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PATH"_s, path() + u"/stubs:"_s + env.value(u"PATH"_s));
    p.setProcessEnvironment(env);
    p.start(isolated ? path() + u"/enter"_s : u"/bin/bash"_s,
            isolated ? QStringList{u"/bin/bash"_s, u"-c"_s, command} : QStringList{u"-c"_s, command});
    Result r;
    if (!p.waitForStarted() || !p.waitForFinished(300000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QStringList RootSandbox::calls() const {
    return QString::fromUtf8(read(path() + u"/calls.log"_s)).split(u'\n', Qt::SkipEmptyParts);
}

bool RootSandbox::write(const QString& path, const QByteArray& bytes, int mode) {
    return writeFile(path, bytes) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray RootSandbox::read(const QString& path) {
    return readFile(path);
}
