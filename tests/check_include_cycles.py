#!/usr/bin/env python3
"""Fails when the project's own #include "..." lines form a cycle between files.

A header and its source file count as one unit, since a .cpp that includes a header which
leads back to that .cpp's own header is the cycle a reader trips over."""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
SOURCE_DIRS = ["core", "engine", "desktop", "app", "cli", "resources", "tests", "bench"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit(path):
    return os.path.splitext(path)[0]


def main():
    files = []
    for d in SOURCE_DIRS:
        for base, _, names in os.walk(os.path.join(ROOT, d)):
            for n in names:
                if n.endswith((".h", ".cpp", ".c", ".hpp")):
                    files.append(os.path.relpath(os.path.join(base, n), ROOT))
    known = set(files)
    graph = {}
    for f in files:
        with open(os.path.join(ROOT, f), encoding="utf-8", errors="replace") as fh:
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
    for c in cycles:
        print("include cycle: " + " <-> ".join(c))
    if cycles:
        return 1
    print(f"no include cycles among {len(files)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
