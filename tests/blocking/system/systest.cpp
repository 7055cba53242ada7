// SPDX-License-Identifier: GPL-3.0-or-later
// The application's own install, removal and lockup writing, as the system test drives them
// inside the container:  mivra-systest install | remove | write [--page] [--expires S] SITE...
// and, standing in for a site that keeps connections open:  mivra-systest serve ADDRESS PORT
#include "blocking/blocker.h"
#include "platform/linux/pkexecrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimeZone>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    PkexecRunner runner;
    Blocker blocker(RootLayout::linuxLayout(), QDir::homePath() + u"/.local/share/Mivra/install"_s, runner);
    blocker.setDaemonCandidates({app.applicationDirPath() + u"/mivra-blockpage"_s});
    blocker.refresh();
    const QString command = args.value(0);
    if (command == u"serve"_s) {
        // Accepts every connection and holds it open, answering nothing, until killed.
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(args.value(2).toUInt()));
        if (inet_pton(AF_INET, args.value(1).toLatin1().constData(), &a.sin_addr) != 1) return 2;
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0)
            return 1;
        for (;;)
            if (::accept(s, nullptr, nullptr) < 0) return 1;
    }
    if (command == u"write"_s) {
        bool page = false;
        std::optional<QDateTime> expires;
        QStringList sites;
        for (int i = 1; i < args.size(); ++i) {
            if (args[i] == u"--page"_s)
                page = true;
            else if (args[i] == u"--expires"_s && i + 1 < args.size())
                expires = QDateTime::fromSecsSinceEpoch(args[++i].toLongLong(), QTimeZone::utc());
            else
                sites << args[i];
        }
        blocker.apply(sites, expires, page);
        if (!blocker.lastErrorText().isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(blocker.lastErrorText()));
        return blocker.lastErrorText().isEmpty() ? 0 : 1;
    }
    if (command != u"install"_s && command != u"remove"_s) return 2;
    int status = 1;
    auto done = [&](bool ok) {
        status = ok ? 0 : 1;
        if (!blocker.lastErrorText().isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(blocker.lastErrorText()));
        app.quit();
    };
    command == u"install"_s ? blocker.install(done) : blocker.uninstall(done);
    app.exec();
    return status;
}
