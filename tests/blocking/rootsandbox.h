// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A throwaway copy of the places the root side touches. Commands run as root inside a private
// mount namespace: temporary folders are bind-mounted over /var/lib, /var/log and /usr/local, and
// /etc is an overlay whose changes land in the sandbox; /etc/hosts is a plain file there, or, as
// in containers, a file bind-mounted over it. Stub systemctl, resolvectl, nscd and pkexec come
// first on PATH and record their arguments. Nothing outside the sandbox's folder changes.
#include "blocking/rootside.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class RootSandbox {
public:
    explicit RootSandbox(bool hostsMounted = false);

    // Why sandboxes cannot run here (not root, no unshare, no overlay), or nothing when they can.
    static QString unavailable();

    QString path() const { return m_dir.path(); }
    // Where a path seen inside the namespace lives outside it.
    QString outside(const QString& inside) const;

    struct Result {
        int status = -1;
        QByteArray out, err;
    };
    // Runs `command` with bash inside the namespace; with `isolated` false, right here, with only
    // the stubs first on PATH.
    Result run(const QString& command, bool isolated = true) const;

    // The stubs' calls, one line each ("systemctl daemon-reload"), oldest first.
    QStringList calls() const;
    void clearCalls() const { write(path() + QStringLiteral("/calls.log"), {}); }
    // Makes a stub exit with `status` (after recording its call).
    void setStubStatus(const QString& tool, int status) const {
        write(path() + QStringLiteral("/status.") + tool, QByteArray::number(status));
    }
    void addStub(const QString& tool) const;
    // The user id the pkexec stub reports as PKEXEC_UID.
    void setPkexecUid(int uid) const {
        write(path() + QStringLiteral("/pkexec-uid"), QByteArray::number(uid));
    }
    // Shell run inside the namespace after the prompt and before the privileged command: what
    // another process of the user could do in that moment.
    void setTamper(const QByteArray& shell) const { write(path() + QStringLiteral("/tamper"), shell); }
    QString pkexecStub() const { return path() + QStringLiteral("/stubs/pkexec"); }
    // A pkexec stand-in that enters the namespace and runs its command there.
    QString sandboxedPkexec() const { return path() + QStringLiteral("/pkexec-sandboxed"); }

    static bool write(const QString& path, const QByteArray& bytes, int mode = 0644);
    static QByteArray read(const QString& path);

private:
    QTemporaryDir m_dir;
    bool m_hostsMounted;
};

// Test texts write the hosts file's markers as the lines "@B" and "@E".
inline QByteArray marked(QByteArray text) {
    return text.replace("@B", RootSide::beginMarker.toUtf8()).replace("@E", RootSide::endMarker.toUtf8());
}
