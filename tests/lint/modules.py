#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The modules' links form no cycle, and no source includes a header of a module its own module
does not link to (directly or through others): an include that goes up or sideways fails.

Usage: modules.py <modules.txt written by the build> <source tree>
modules.txt holds, per module, "module NAME", then "link OTHER" and "source PATH" lines."""
import os
import re
import sys


def read_modules(path):
    modules, current = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            kind, _, value = line.rstrip("\n").partition(" ")
            if kind == "module":
                current = modules.setdefault(value, {"links": set(), "sources": set()})
            elif kind == "link":
                current["links"].add(value)
            elif kind == "source":
                current["sources"].add(os.path.normpath(value))
    return modules


def find_cycle(modules):
    state = {}  # 1: on the path, 2: done

    def visit(name, path):
        state[name] = 1
        for other in sorted(modules[name]["links"]):
            if other not in modules:
                continue
            if state.get(other) == 1:
                return path[path.index(other):] + [other]
            if other not in state:
                cycle = visit(other, path + [other])
                if cycle:
                    return cycle
        state[name] = 2
        return None

    for name in sorted(modules):
        if name not in state:
            cycle = visit(name, [name])
            if cycle:
                return cycle
    return None


def reachable(modules, name):
    seen, todo = set(), [name]
    while todo:
        for other in modules.get(todo.pop(), {"links": ()})["links"]:
            if other not in seen:
                seen.add(other)
                todo.append(other)
    return seen


def main():
    modules = read_modules(sys.argv[1])
    tree = os.path.realpath(sys.argv[2])
    problems = []

    cycle = find_cycle(modules)
    if cycle:
        problems.append("the modules link in a cycle: " + " -> ".join(cycle))

    owner = {}
    for name, module in sorted(modules.items()):
        for source in module["sources"]:
            if source in owner and owner[source] != name:
                problems.append(f"{os.path.relpath(source, tree)} belongs to {owner[source]} and {name}")
            owner[source] = name

    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    for name, module in sorted(modules.items()):
        allowed = reachable(modules, name) | {name}
        for source in sorted(module["sources"]):
            if not source.startswith(tree + os.sep) or not os.path.isfile(source):
                continue
            with open(source, encoding="utf-8") as f:
                text = f.read()
            for header in include.findall(text):
                for candidate in (os.path.join(tree, header), os.path.join(os.path.dirname(source), header)):
                    target = owner.get(os.path.normpath(candidate))
                    if target:
                        break
                if target and target not in allowed:
                    problems.append(f"{os.path.relpath(source, tree)} ({name}) includes {header} ({target}), "
                                    f"a module {name} does not link to")
    checked = sum(len(m["sources"]) for m in modules.values())
    if problems:
        print("\n".join(problems))
        return 1
    print(f"{len(modules)} modules, {checked} sources: no cycle, no include against the links")
    return 0


if __name__ == "__main__":
    sys.exit(main())
