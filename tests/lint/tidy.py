#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every C++ source of the tree passes the checks of the tree's .clang-tidy (Debian 12's clang-tidy
14); the tree's headers are checked through the sources that include them.

Usage: tidy.py <build folder> <source tree> [source ...]
The build folder's compile_commands.json gives the sources and their flags; sources generated under
the build folder (moc, resources, QML type registrations) are not the tree's and are left out. So
is tests/: its sources add GoogleTest's headers to each parse and would double a clean run, and
their faults show as failing tests. With sources named, only those are checked (tests' too).

A clean run takes minutes on two cores, so a source that passed is remembered in the user's cache
folder (MIVRA_TIDY_CACHE, else $XDG_CACHE_HOME/mivra or ~/.cache/mivra; the build folder where that
cannot be written) by a digest of everything its result depends on: its preprocessed text (the
source and every header it includes), its command, the checks' configuration and the version of
clang-tidy, with the tree's own path taken out so that another clone of the same sources finds it.
A source whose digest passed before is not checked again; a finding is never remembered. Exits 77
(skipped) when clang-tidy is not installed. MIVRA_TIDY_JOBS sets how many run at once (default:
every core)."""
import concurrent.futures
import hashlib
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile


def units(build, tree, with_tests=False):
    """The tree's own sources with their compile commands, one command per source."""
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    found = {}
    for e in entries:
        path = os.path.normpath(os.path.join(e["directory"], e["file"]))
        if not path.startswith(tree + os.sep) or path.startswith(build + os.sep) or "_autogen" in path:
            continue
        if not with_tests and path.startswith(os.path.join(tree, "tests") + os.sep):
            continue
        args = e["arguments"] if "arguments" in e else shlex.split(e["command"])
        found.setdefault(path, (e["directory"], args))
    return found


def preprocess_args(args):
    """The compile command turned into one that prints the preprocessed text."""
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
        elif a == "-o":
            skip = True
        elif a != "-c" and not a.startswith("-o"):
            out.append(a)
    return out + ["-E"]


def digest(path, directory, args, salt, tree):
    h = hashlib.sha256(salt)
    here = tree.encode()
    h.update("\0".join(args).encode().replace(here, b"@TREE@"))
    run = subprocess.run(preprocess_args(args), cwd=directory, capture_output=True, check=False)
    if run.returncode != 0:
        return None  # let clang-tidy report what is wrong
    h.update(run.stdout.replace(here, b"@TREE@"))
    return h.hexdigest()


def store_path(build):
    """Where the digests of the sources that passed are kept."""
    folder = os.environ.get("MIVRA_TIDY_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "mivra")
    try:
        os.makedirs(folder, exist_ok=True)
        if os.access(folder, os.W_OK):
            return os.path.join(folder, "tidy-passed.txt")
    except OSError:
        pass
    return os.path.join(build, "tidy-passed.txt")


def tidy(path, build):
    run = subprocess.run(["clang-tidy", "-p", build, "--quiet", path], capture_output=True, text=True,
                         check=False)
    # clang-tidy counts the warnings it suppressed on stderr; the findings are on stdout.
    lines = [l for l in (run.stdout + run.stderr).splitlines() if l and not l.endswith(" warnings generated.")
             and not l.endswith(" warning generated.")]
    return run.returncode, "\n".join(lines)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    if shutil.which("clang-tidy") is None:
        print("SKIP: clang-tidy is not installed (bash tools/test-setup.sh installs it)")
        return 77
    build, tree = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    todo = units(build, tree, with_tests=len(sys.argv) > 3)
    if len(sys.argv) > 3:
        wanted = {os.path.realpath(p) for p in sys.argv[3:]}
        missing = wanted - todo.keys()
        if missing:
            print("FAIL: not in compile_commands.json: " + " ".join(sorted(missing)))
            return 1
        todo = {p: todo[p] for p in wanted}
    if not todo:
        print("FAIL: no sources found")
        return 1

    # The configuration as clang-tidy reads it, so that editing a comment of .clang-tidy costs no run.
    any_source = next(iter(todo))
    salt = subprocess.run(["clang-tidy", "--dump-config", any_source], capture_output=True, check=True).stdout
    salt += subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout
    store = store_path(build)
    try:
        with open(store, encoding="utf-8") as f:
            passed = set(f.read().split())
    except FileNotFoundError:
        passed = set()

    jobs = int(os.environ.get("MIVRA_TIDY_JOBS", "0")) or os.cpu_count() or 1
    failed, checked, kept = [], 0, set()
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        digests = dict(zip(todo, pool.map(lambda p: digest(p, *todo[p], salt, tree), todo)))
        fresh = sorted(p for p in todo if digests[p] is None or digests[p] not in passed)
        kept = {d for p, d in digests.items() if d in passed}
        for path, (status, text) in zip(fresh, pool.map(lambda p: tidy(p, build), fresh)):
            checked += 1
            if status == 0 and "warning:" not in text and "error:" not in text:
                if digests[path]:
                    kept.add(digests[path])
            else:
                failed.append(path)
                print(text or f"{path}: clang-tidy exited with {status}")

    # What passed before is kept beside this run's, up to a bound, so that the file does not grow
    # with every edit and two clones or branches checked in turn both find theirs.
    if len(sys.argv) == 3:
        recent = kept | passed if len(kept | passed) <= 10 * len(todo) else kept
        fd, part = tempfile.mkstemp(dir=os.path.dirname(store), prefix=".tidy-passed.")
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write("\n".join(sorted(recent)) + "\n")
        os.replace(part, store)
    else:
        with open(store, "a", encoding="utf-8") as f:
            f.write("".join(d + "\n" for d in kept - passed))
    print(f"{len(todo)} sources: {checked} checked, {len(todo) - checked} unchanged since they passed,"
          f" {len(failed)} with findings")
    for path in failed:
        print("FAIL: " + os.path.relpath(path, tree))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
