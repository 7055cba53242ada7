#include "rootsandbox.h"

#include "fakes/fakes.h"

#include <QDir>
#include <QFile>
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
const Mount mounts[] = {
    {u"/var/lib"_s, u"var-lib"_s},
    {u"/var/log"_s, u"var-log"_s},
    {u"/usr/local"_s, u"usr-local"_s},
    {u"/etc/systemd"_s, u"etc-systemd"_s},
};

} // namespace

QString RootSandbox::unavailable() {
    static const QString reason = []() -> QString {
        if (::geteuid() != 0) return u"the root-side scripts run for real only as root"_s;
        if (QProcess::execute(u"unshare"_s, {u"--mount"_s, u"--propagation"_s, u"private"_s, u"/bin/true"_s}))
            return u"unshare --mount is not available here"_s;
        for (const Mount& m : mounts)
            if (!QFileInfo(m.inside).isDir()) return m.inside + u" does not exist on this machine"_s;
        return QString();
    }();
    return reason;
}

RootSandbox::RootSandbox() {
    // For a look afterwards: MIVRA_KEEP_SANDBOX=1 keeps the folder and says where it is.
    if (qEnvironmentVariableIsSet("MIVRA_KEEP_SANDBOX")) {
        m_dir.setAutoRemove(false);
        qWarning("sandbox kept in %s", qPrintable(m_dir.path()));
    }
    const QString s = path();
    for (const Mount& m : mounts)
        QDir().mkpath(s + u'/' + m.folder);
    QDir().mkpath(s + u"/etc-systemd/system"_s);
    QDir().mkpath(s + u"/stubs"_s);
    write(s + u"/hosts"_s, "127.0.0.1 localhost\n");
    clearCalls();
    for (const QString& tool : {u"systemctl"_s, u"resolvectl"_s, u"nscd"_s, u"pkexec"_s})
        addStub(tool);
    // pkexec then hands the command the user id it would and runs it; under a strict umask, so
    // that the scripts must set every mode themselves.
    write(pkexecStub(),
          read(pkexecStub()) + "[ \"$1\" = --disable-internal-agent ] && shift\nPKEXEC_UID=$(cat '" +
              s.toUtf8() + "/pkexec-uid' 2>/dev/null || echo 4242)\nexport PKEXEC_UID PATH='" + s.toUtf8() +
              "/stubs':\"$PATH\"\numask 077\nexec \"$@\"\n",
          0755);

    QString inside = u"#!/bin/bash\nset -e\nmount --bind '"_s + s + u"/hosts' /etc/hosts\n"_s;
    for (const Mount& m : mounts)
        inside += u"mount --bind '"_s + s + u'/' + m.folder + u"' "_s + m.inside + u'\n';
    inside += u"export PATH='"_s + s + u"/stubs':\"$PATH\"\nset +e\nexec \"$@\"\n"_s;
    write(s + u"/inside"_s, inside.toUtf8(), 0755);
    write(s + u"/enter"_s,
          "#!/bin/sh\nexec unshare --mount --propagation private /bin/bash '" + s.toUtf8() +
              "/inside' \"$@\"\n",
          0755);
    write(sandboxedPkexec(), "#!/bin/sh\nexec '" + s.toUtf8() + "/enter' pkexec \"$@\"\n", 0755);
}

void RootSandbox::addStub(const QString& tool) const {
    // Records its call, then exits with the status set for it, if any.
    const QByteArray s = path().toUtf8(), t = tool.toUtf8();
    write(path() + u"/stubs/"_s + tool,
          "#!/bin/sh\nprintf '%s\\n' \"" + t + " $*\" >> '" + s + "/calls.log'\nif [ -f '" + s + "/status." +
              t + "' ]; then exit \"$(cat '" + s + "/status." + t + "')\"; fi\n",
          0755);
}

QString RootSandbox::outside(const QString& inside) const {
    if (inside == u"/etc/hosts"_s) return path() + u"/hosts"_s;
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
    if (!p.waitForStarted() || !p.waitForFinished(120000)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QStringList RootSandbox::calls() const {
    return QString::fromUtf8(read(path() + u"/calls.log"_s)).split(u'\n', Qt::SkipEmptyParts);
}

void RootSandbox::clearCalls() const {
    write(path() + u"/calls.log"_s, {});
}

void RootSandbox::setStubStatus(const QString& tool, int status) const {
    write(path() + u"/status."_s + tool, QByteArray::number(status));
}

void RootSandbox::setPkexecUid(int uid) const {
    write(path() + u"/pkexec-uid"_s, QByteArray::number(uid));
}

bool RootSandbox::write(const QString& path, const QByteArray& bytes, int mode) {
    return writeFile(path, bytes) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray RootSandbox::read(const QString& path) {
    return readFile(path);
}
