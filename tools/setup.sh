#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build and run Mivra: the Debian packages that building and running
# need, then the font packages from npm at pinned versions (checked by SHA-256). Test and benchmark tools
# come from tools/test-setup.sh, which the test command runs itself. Safe to run again; quick when all is there.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(
    build-essential cmake pkg-config git ca-certificates
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-svg-dev
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-window qml6-module-qtquick-layouts qml6-module-qtqml-workerscript
    qt6-qpa-plugins
    nlohmann-json3-dev libical-dev libcanberra-dev libecal2.0-dev libedataserver1.2-dev evolution-data-server
    dbus dbus-bin dbus-daemon pkexec polkitd systemd util-linux procps psmisc
)
# npm fetches the fonts; a Node.js that brings its own npm is left as it is.
command -v npm >/dev/null || packages+=(nodejs npm)

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

# Fonts: fetched, verified and unpacked into .deps/fonts; a missing font falls back to the system font.
fonts="$here/.deps/fonts"
cache="$here/.deps/npm"
mkdir -p "$fonts" "$cache"
grep -v '^#' "$here/resources/fonts.manifest" | while read -r pkg version sum files; do
    [ -n "$pkg" ] || continue
    all_there=1
    for f in $files; do [ -f "$fonts/$(basename "$f")" ] || all_there=0; done
    [ $all_there = 1 ] && continue
    tarball="$cache/$(echo "${pkg#@}" | tr '/' '-')-$version.tgz"
    if [ ! -f "$tarball" ] || ! echo "$sum  $tarball" | sha256sum -c --quiet - 2>/dev/null; then
        rm -f "$tarball"
        if ! (cd "$cache" && npm pack --silent "$pkg@$version" >/dev/null 2>&1); then
            echo "setup: could not fetch $pkg@$version; the system font stands in" >&2
            continue
        fi
    fi
    if ! echo "$sum  $tarball" | sha256sum -c --quiet - ; then
        echo "setup: $pkg@$version does not match its checksum; not used" >&2
        rm -f "$tarball"
        continue
    fi
    for f in $files; do
        tar -xzf "$tarball" -O "package/$f" > "$fonts/$(basename "$f").part"
        mv "$fonts/$(basename "$f").part" "$fonts/$(basename "$f")"
    done
done
echo "setup: ready"
