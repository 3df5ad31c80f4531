#!/usr/bin/env python3
"""Writes lists whose items all share one table hash, and lists of the same shape without.

    gen_colliding.py LINES FIRST SECOND [--random] [--seed N]

The table hash is h = h * 65599 + unit modulo 2^32, so the 2-unit blocks
(c, b) and (c + 65473, b + 3969) add the same amount to it (65473 * 65599 +
3969 is 2^32). An item of k such blocks, each in one of its two spellings,
is one of 2^k distinct items with the same hash. Each file gets LINES items,
distinct within the file; about half of the second file's items are also in
the first. With --random each block takes random units from the same ranges
instead, so the items have the same length and units but spread over the
hash space.

The files are UTF-16LE with a byte-order mark and CR LF line ends: the
shifted units lie at U+FFE2..U+FFFF, which a UTF-16 file carries exactly.
"""

import argparse
import random
import sys

SHIFT_C = 65473
SHIFT_B = 3969
C_UNITS = range(33, 63)  # printable, never a separator; shifted they stay below 0x10000
B_UNITS = range(ord("a"), ord("z") + 1)


def table_hash(units):
    h = 0
    for u in units:
        h = (h * 65599 + u) & 0xFFFFFFFF
    return h


def blocks_for(lines):
    # Both files together hold 1.5 x LINES distinct items; 2^k must exceed that.
    k = 1
    while (1 << k) < lines * 2:
        k += 1
    return k


def colliding_items(count, k, rng):
    base = [(rng.choice(C_UNITS), rng.choice(B_UNITS)) for _ in range(k)]
    picks = rng.sample(range(1 << k), count)
    items = []
    for bits in picks:
        units = []
        for j, (c, b) in enumerate(base):
            if bits >> j & 1:
                units += (c + SHIFT_C, b + SHIFT_B)
            else:
                units += (c, b)
        items.append(units)
    return items


def random_items(count, k, rng):
    items, seen = [], set()
    while len(items) < count:
        units = []
        for _ in range(k):
            c, b = rng.choice(C_UNITS), rng.choice(B_UNITS)
            if rng.random() < 0.5:
                c, b = c + SHIFT_C, b + SHIFT_B
            units += (c, b)
        key = tuple(units)
        if key not in seen:
            seen.add(key)
            items.append(units)
    return items


def write(path, items):
    out = bytearray(b"\xff\xfe")
    for units in items:
        for u in units:
            out += u.to_bytes(2, "little")
        out += b"\r\x00\n\x00"
    with open(path, "wb") as f:
        f.write(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("lines", type=lambda s: int(float(s)))
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--random", action="store_true", help="same shape, no shared hash")
    parser.add_argument("--seed", type=int, default=17)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    n = args.lines
    k = blocks_for(n)
    total = n + n // 2
    items = (random_items if args.random else colliding_items)(total, k, rng)
    if not args.random:
        hashes = {table_hash(u) for u in items}
        if len(hashes) != 1:
            sys.exit("generator fault: the items do not share one hash")
    first = items[:n]
    second = items[n // 2 : n // 2 + n]
    rng.shuffle(second)
    write(args.first, first)
    write(args.second, second)


if __name__ == "__main__":
    main()
