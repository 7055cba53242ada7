#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package (binary only, unsigned) and puts mivra_<version>_<arch>.deb in dist/.
# Needs the build dependencies of debian/control (tools/setup.sh plus debhelper and librsvg2-bin,
# which tools/test-setup.sh installs). A compiler launcher such as ccache is used when
# CMAKE_CXX_COMPILER_LAUNCHER names one.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2
# dpkg-buildpackage writes beside the source tree: two clones in one folder would take each
# other's files, so they build one at a time.
exec 8>"../.mivra-package.lock"
flock 8
DEB_BUILD_OPTIONS="parallel=$jobs nocheck ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -b -us -uc >&2
mkdir -p dist
deb="mivra_${version}_${arch}.deb"
mv -f "../$deb" dist/
# The other files dpkg-buildpackage leaves beside the source tree.
for f in ../mivra_"${version}"_"${arch}".buildinfo ../mivra_"${version}"_"${arch}".changes ../mivra-dbgsym_"${version}"_"${arch}".deb; do
    [ -e "$f" ] && mv -f "$f" dist/
done
exec 8>&-
echo "dist/$deb"
