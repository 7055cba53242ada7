// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the Linux root side for distribution packages: the applier, the systemd units, the
// version file, an empty lockup file and the program that hands the lockup file to a user, with the applier
// and the daemon in the given libexec folder.
//   mivra-rootside-gen OUTPUT_DIR LIBEXEC_DIR
// With --under ROOT instead of LIBEXEC_DIR, every root-side path lies under ROOT (for benchmarks).
#include "blocking/rootside.h"

#include <QDir>
#include <QSaveFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
bool write(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        std::fprintf(stderr, "mivra-rootside-gen: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(f.errorString()));
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv) {
    const bool under = argc == 4 && qstrcmp(argv[2], "--under") == 0;
    if (argc != 3 && !under) {
        std::fprintf(stderr, "usage: mivra-rootside-gen OUTPUT_DIR (LIBEXEC_DIR | --under ROOT)\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    RootLayout layout = RootLayout::linuxLayout();
    if (under)
        layout = RootLayout::under(QString::fromLocal8Bit(argv[3]));
    else
        layout.libexecDirectory = QString::fromLocal8Bit(argv[2]);
    const RootSide side(RootPlatform::Linux, layout);

    if (!QDir().mkpath(out + u"/units"_s)) {
        std::fprintf(stderr, "mivra-rootside-gen: cannot create %s/units\n", argv[1]);
        return 1;
    }
    bool ok = write(out + u"/lockup-apply.sh"_s, side.applierScript().toUtf8());
    for (const RootFile& unit : side.jobFiles())
        ok = write(out + u"/units/"_s + unit.name, unit.text.toUtf8()) && ok;
    ok = write(out + u"/version"_s, QByteArray::number(RootSide::helperVersion) + '\n') && ok;
    ok = write(out + u"/lockup.conf"_s, {}) && ok;
    // Run by pkexec under the package's polkit action: hands the lockup file to the asking user.
    ok = write(out + u"/mivra-claim-lockup"_s, side.claimScript().toUtf8()) && ok;
    return ok ? 0 : 1;
}
