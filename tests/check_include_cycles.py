#!/usr/bin/env python3
"""Fails when the project's own #include "..." lines form a cycle between files.

A header and its source file count as one unit, since a .cpp that includes a header which
leads back to that .cpp's own header is the cycle a reader trips over.

    check_include_cycles.py [ROOT] [--allowed FILE]

FILE (by default include_cycles_allowed.txt next to this script) names cycles that are known
and being taken apart, one a line as this script prints them ("a <-> b"); they are reported but
do not fail the check. Any other cycle, or an allowed one that has grown, fails it."""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIRS = ["core", "engine", "desktop", "app", "cli", "resources", "tests", "bench"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit(path):
    return os.path.splitext(path)[0]


def read_allowed(path):
    allowed = set()
    if not os.path.exists(path):
        return allowed
    with open(path, encoding="utf-8") as fh:
        for line in fh:
            line = line.split("#", 1)[0].strip()
            if line:
                allowed.add(frozenset(part.strip() for part in line.split("<->")))
    return allowed


def main(argv):
    args = argv[1:]
    allowed_path = os.path.join(HERE, "include_cycles_allowed.txt")
    if "--allowed" in args:
        at = args.index("--allowed")
        allowed_path = args[at + 1]
        del args[at:at + 2]
    root = os.path.abspath(args[0] if args else os.path.join(HERE, ".."))
    allowed = read_allowed(allowed_path)
    files = []
    for d in SOURCE_DIRS:
        for base, _, names in os.walk(os.path.join(root, d)):
            for n in names:
                if n.endswith((".h", ".cpp", ".c", ".hpp")):
                    files.append(os.path.relpath(os.path.join(base, n), root))
    known = set(files)
    graph = {}
    for f in files:
        with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
            text = fh.read()
        for inc in INCLUDE.findall(text):
            candidates = [inc, os.path.normpath(os.path.join(os.path.dirname(f), inc))]
            target = next((c for c in candidates if c in known), None)
            if target is None or unit(target) == unit(f):
                continue
            graph.setdefault(unit(f), set()).add(unit(target))
    # Tarjan's strongly connected components.
    index, low, stack, on_stack, cycles = {}, {}, [], set(), []
    counter = [0]
    sys.setrecursionlimit(10000)

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in graph.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                cycles.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    new = [c for c in cycles if frozenset(c) not in allowed]
    for c in cycles:
        kind = "include cycle" if c in new else "allowed include cycle"
        print(f"{kind}: " + " <-> ".join(c))
    # A cycle that is gone should leave the list, or it could come back unnoticed.
    for gone in sorted(sorted(a) for a in allowed - {frozenset(c) for c in cycles}):
        print("no longer a cycle, remove it from " + allowed_path + ": " + " <-> ".join(gone))
    if new:
        return 1
    print(f"no new include cycles among {len(files)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
