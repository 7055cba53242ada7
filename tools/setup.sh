#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a Debian 12 machine ready to build and run Mivra: the Debian packages that building and running
# need (the fonts are in the tree, under resources/fonts). Test and benchmark tools come from
# tools/test-setup.sh, which the test command runs itself. Safe to run again; quick when all is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git ca-certificates
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-svg-dev
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-window qml6-module-qtquick-layouts qml6-module-qtqml-workerscript
    qt6-qpa-plugins
    nlohmann-json3-dev libical-dev libcanberra-dev libecal2.0-dev libedataserver1.2-dev evolution-data-server
    dbus dbus-bin dbus-daemon pkexec polkitd systemd util-linux procps psmisc
)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | awk '/ install ok installed$/ {print $1}' || true)
missing=()
for p in "${packages[@]}"; do
    grep -qx "$p" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_ apt-get update -qq
    sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "setup: ready"
