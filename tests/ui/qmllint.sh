#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every QML file of the app through qmllint against the built Mivra module (its qmldir and the
# C++ types' qmltypes): any warning fails, so a misspelt property or an unknown type is caught here
# and not by a blank label at run time.
# Usage: qmllint.sh <qmllint> <source ui folder> <build ui folder> <Qt's QML folder>.
# Exits 77 (skipped) without qmllint.
set -u
qmllint=$1 src=$(realpath "$2") build=$(realpath "$3") qtqml=$4
if [ -z "$qmllint" ] || [ ! -x "$qmllint" ]; then
    echo "SKIP: qmllint is not installed (bash tools/test-setup.sh installs qt6-declarative-dev-tools)"
    exit 77
fi
resources=()
for qrc in "$build"/.rcc/qmake_*.qrc "$build"/.rcc/*_raw_qml_*.qrc; do resources+=(--resource "$qrc"); done
mapfile -t files < <(cd "$src" && find . -name '*.qml' -printf '%P\n' | sort)
if [ ${#files[@]} -eq 0 ]; then
    echo "FAIL: no QML file under $src"
    exit 1
fi
cd "$src" || exit 1
# One file per run: qmllint 6.4 loses the module's own types when given several of its files at once.
failed=0 total=0
for f in "${files[@]}"; do
    out=$("$qmllint" --bare -I "$build" -I "$qtqml" "${resources[@]}" "$f" 2>&1)
    status=$?
    warnings=$(grep -c '^Warning' <<<"$out")
    if [ "$status" -ne 0 ] || [ "$warnings" -ne 0 ]; then
        echo "$out"
        echo "$f: $warnings warning(s), exit status $status"
        failed=$((failed + 1)) total=$((total + warnings))
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "FAIL: $total qmllint warning(s) in $failed of ${#files[@]} files"
    exit 1
fi
echo "qmllint: ${#files[@]} files, no warning"
