#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a Debian 12 machine ready to test and benchmark Mivra: what tools/setup.sh installs, plus the
# test and benchmark tools. Run by tools/test.sh itself. Touches no service of the machine's: nginx is
# installed for the daemon's benchmark, which runs its own instance with its own configuration.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$here/tools/setup.sh"

packages=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    mmdebstrap systemd-container
    clang libclang-rt-14-dev clang-format clang-tidy
    wrk nginx-light curl python3 iproute2
    xvfb trayer openbox xdotool x11-utils x11-apps haskell-gtk-sni-tray-utils
    at-spi2-core python3-pyatspi
    debhelper dpkg-dev fakeroot lintian appstream librsvg2-bin
    shellcheck qt6-declarative-dev-tools qml6-module-qtqml ccache
)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | awk '/ install ok installed$/ {print $1}' || true)
missing=()
for p in "${packages[@]}"; do
    grep -qx "$p" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "test-setup: installing ${missing[*]}"
    sudo_ apt-get update -qq
    # Nothing recommended: systemd-container would bring libnss-mymachines, which edits nsswitch.conf.
    # policy-rc.d keeps a freshly installed nginx from starting a site of its own on port 80.
    rc=/usr/sbin/policy-rc.d
    made_rc=0
    if [ ! -e "$rc" ]; then
        printf '#!/bin/sh\nexit 101\n' | sudo_ tee "$rc" >/dev/null
        sudo_ chmod 755 "$rc"
        made_rc=1
    fi
    trap '[ $made_rc = 1 ] && sudo_ rm -f "$rc"' EXIT
    sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "test-setup: ready"
