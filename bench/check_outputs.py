#!/usr/bin/env python3
"""Checks that listwise-cli and the peers found the same items.

    check_outputs.py OUTDIR LINES

Reads OUTDIR/OP-LINES-TOOL.txt as run_bench.sh leaves them. Items are
compared as sets (order aside; the byte-order mark, the CR that the peers
keep on every line, and the final empty item aside), counts as item-to-count
maps, and merged lines in order. Prints one line per operation and exits 1
if any output disagrees.
"""

import collections
import glob
import os
import re
import sys

SUBJECT = "listwise-cli"


def cli_items(data):
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.split(b"\r\n") if data else []


def peer_lines(data):
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [line[:-1] if line.endswith(b"\r") else line for line in lines]


def as_set(items, notes, who):
    empties = sum(1 for x in items if x == b"")
    items = [x for x in items if x != b""]
    if empties:
        notes.append(f"{who}: {empties} empty item(s) left aside")
    repeats = len(items) - len(set(items))
    if repeats:
        notes.append(f"{who}: {repeats} repeated item(s)")
    return set(items)


_COUNT = re.compile(rb"^\s*(\d+) (.*)$", re.S)


def as_counts(lines, notes, who):
    counts = {}
    for line in lines:
        m = _COUNT.match(line)
        if not m:
            notes.append(f"{who}: unreadable line {line[:60]!r}")
            continue
        item = m.group(2)
        if item.endswith(b"\r"):
            item = item[:-1]
        if item == b"":
            notes.append(f"{who}: count of the empty item ({int(m.group(1))}) left aside")
            continue
        if item in counts:
            notes.append(f"{who}: item listed twice {item[:60]!r}")
        counts[item] = int(m.group(1))
    return counts


def merged_cli(data):
    return [x for x in cli_items(data) if x != b""]


def merged_paste(data):
    out = []
    for line in peer_lines(data):
        for part in line.split(b"\t"):
            if part.endswith(b"\r"):
                part = part[:-1]
            if part != b"":
                out.append(part)
    return out


def describe(a, b):
    if isinstance(a, dict):
        only_a = a.keys() - b.keys()
        only_b = b.keys() - a.keys()
        differ = [k for k in a.keys() & b.keys() if a[k] != b[k]]
        example = next(iter(only_a or only_b or differ), b"")
        return (f"{len(only_a)} only in listwise-cli, {len(only_b)} only in peer, "
                f"{len(differ)} with other counts, e.g. {example[:60]!r}")
    if isinstance(a, set):
        only_a, only_b = a - b, b - a
        example = next(iter(only_a or only_b), b"")
        return f"{len(only_a)} only in listwise-cli, {len(only_b)} only in peer, e.g. {example[:60]!r}"
    first = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return f"lengths {len(a)} and {len(b)}, first difference at item {first}"


def main():
    outdir, lines = sys.argv[1], int(float(sys.argv[2]))
    failed = False
    for op in ("only-in-second", "in-both", "dedupe", "count", "merge"):
        files = sorted(glob.glob(os.path.join(outdir, f"{op}-{lines}-*.txt")))
        subject = [f for f in files if f.endswith(f"-{SUBJECT}.txt")]
        peers = [f for f in files if not f.endswith(f"-{SUBJECT}.txt")]
        if not subject or not peers:
            print(f"check {lines} {op}: outputs missing")
            failed = True
            continue
        notes = []
        data = open(subject[0], "rb").read()
        if op == "count":
            want = as_counts(cli_items(data), notes, "listwise-cli")
        elif op == "merge":
            want = merged_cli(data)
        else:
            want = as_set(cli_items(data), notes, "listwise-cli")
        verdicts = []
        for peer in peers:
            name = os.path.basename(peer)[len(f"{op}-{lines}-"):-4]
            raw = open(peer, "rb").read()
            if op == "count":
                got = as_counts(peer_lines(raw), notes, name)
            elif op == "merge":
                got = merged_paste(raw)
            else:
                got = as_set(peer_lines(raw), notes, name)
            if got == want:
                verdicts.append(f"{name} same ({len(got)})")
            else:
                verdicts.append(f"{name} DIFFERENT: {describe(want, got)}")
                failed = True
        print(f"check {lines} {op}: " + "; ".join(verdicts)
              + ("" if not notes else " [" + "; ".join(notes) + "]"))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
