#!/usr/bin/env python3
"""Writes a pair of realistic item lists for the benchmark.

    gen_lists.py LINES FIRST SECOND [--seed N]

Each file holds LINES items, one per line, every line ended by CR LF:
e-mail- and URL-like items of 10 to 40 bytes, about a tenth of them
Cyrillic (UTF-8), a few percent upper/title-case variants of other items,
about 30 % repeats of earlier items, and about half of the second file's
distinct items taken from the first file. The same LINES and seed always
give the same bytes.
"""

import argparse
import os
import random
import sys
import time

REPEAT_SHARE = 0.30          # lines that repeat an item seen earlier in the file
SHARED_SHARE = 0.50          # distinct items of the second file also in the first
VARIANT_SHARE = 0.04         # new items that are case variants of another item

# Every base item carries a 6-character base-36 token at a fixed place, made
# from a unique index by a bijection, so base items never collide by chance
# and the repeat share is the one asked for.
_B36 = "0123456789abcdefghijklmnopqrstuvwxyz"
_TOKEN3 = [a + b + c for a in _B36 for b in _B36 for c in _B36]
_TOKEN_SPACE = 36 ** 6
_TOKEN_MULT = 2654435761       # odd and not a multiple of 3: a bijection modulo 36^6

_NAMES = ["ivan", "anna", "petrov", "smith", "j.doe", "maria", "alex", "info",
          "sales", "olga.k", "dmitry", "support", "kate", "no-reply", "bob",
          "li", "ng", "office", "admin", "elena.s", "sergey", "mike.r", "x"]
_DOMAINS = ["mail.ru", "gmail.com", "yandex.ru", "example.org", "corp.example.com",
            "list.ru", "inbox.eu", "uni-msk.ru", "x.io", "bk.ru", "ya.ru",
            "students.example.edu", "hq.company.co.uk"]
_HOSTS = ["shop.example.com", "example.org", "news.site.ru", "wiki.example.net",
          "docs.test.io", "habr.com", "www.example.com", "cdn.host.ru", "a.b.c"]
_PATHS = ["", "p/", "item/", "user/", "a/b/", "id=", "?q=", "news/", "img/", "2024/05/"]
_SCHEMES = ["https://", "https://", "http://", ""]
_TLDS = [".com", ".net", ".org", ".ru"]
_CYR_NAMES = ["иван", "анна", "олег", "мария", "пётр", "юля", "дима", "ёж", "заказ", "инфо"]
_CYR_DOMAINS = ["почта.рф", "мир.рф", "сайт.рф", "яндекс.рф", "пример.рф"]
_CYR_PATHS = ["", "каталог/", "товар/", "новости/"]


def _frames(rng):
    """(prefix, suffix) pairs that put a token between them, weighted by how common
    each kind of item is; every pair leaves the item 10 to 40 bytes long."""
    kinds = [
        (45, [(n, "@" + d) for n in _NAMES for d in _DOMAINS]),
        (35, [(s + h + "/" + p, "") for s in _SCHEMES for h in _HOSTS for p in _PATHS]),
        (7, [("", t) for t in _TLDS]),
        (8, [(n, "@" + d) for n in _CYR_NAMES for d in _CYR_DOMAINS]),
        (5, [("http://" + d + "/" + p, "") for d in _CYR_DOMAINS for p in _CYR_PATHS]),
    ]
    frames = []
    for weight, pairs in kinds:
        pairs = [f for f in pairs if 10 <= len((f[0] + f[1]).encode("utf-8")) + 6 <= 40]
        frames += [pairs[rng.randrange(len(pairs))] for _ in range(weight * 100)]
    return frames


def _case_variant(rng, item):
    r = rng.random()
    if r < 0.4:
        return item.upper()
    if r < 0.7:
        return item.capitalize()
    return item.title()


def _distinct_items(rng, frames, first_index, count, others):
    """count new items: lower-case base items unique by their index, and a few case
    variants of `others` or of earlier ones."""
    items = []
    append = items.append
    rand = rng.random
    nframes = len(frames)
    x = (first_index * _TOKEN_MULT + 12345) % _TOKEN_SPACE
    index = first_index
    for _ in range(count):
        if rand() < VARIANT_SHARE and (items or others):
            pool = others if others and rand() < 0.5 else (items or others)
            append(_case_variant(rng, pool[int(rand() * len(pool))]))
            continue
        prefix, suffix = frames[int(rand() * nframes)]
        append(prefix + _TOKEN3[x // 46656] + _TOKEN3[x % 46656] + suffix)
        x = (x + _TOKEN_MULT) % _TOKEN_SPACE
        index += 1
    return items, index


def _interleave(rng, a, b):
    """a and b mixed at random, each keeping its own order."""
    out = []
    append = out.append
    rand = rng.random
    i = j = 0
    while i < len(a) and j < len(b):
        if rand() * (len(a) - i + len(b) - j) < len(a) - i:
            append(a[i])
            i += 1
        else:
            append(b[j])
            j += 1
    return out + a[i:] + b[j:]


def _with_repeats(rng, distinct, lines):
    """Lines in the order of `distinct` (already random), each distinct item once,
    with uniform repeats of any of them spread in between."""
    rand = rng.random
    size = len(distinct)
    left = lines - size
    chance = left / lines if lines else 0.0
    result = []
    append = result.append
    for item in distinct:
        append(item)
        while left and rand() < chance:
            append(distinct[int(rand() * size)])
            left -= 1
    result += [distinct[int(rand() * size)] for _ in range(left)]
    return result


def generate(lines, seed):
    rng = random.Random(seed)
    frames = _frames(rng)
    distinct_first = round(lines * (1 - REPEAT_SHARE))
    first_items, next_index = _distinct_items(rng, frames, 0, distinct_first, [])
    distinct_second = round(lines * (1 - REPEAT_SHARE))
    shared = round(distinct_second * SHARED_SHARE)
    # The shared part is drawn from the first file's distinct items without
    # repetition; case variants among them stay exact copies here, so
    # "in both" sees the shared share and nothing else.
    shared_items = rng.sample(first_items, shared)
    own_items, _ = _distinct_items(rng, frames, next_index, distinct_second - shared, first_items)
    first = _with_repeats(rng, first_items, lines)
    second = _with_repeats(rng, _interleave(rng, shared_items, own_items), lines)
    return first, second


def write_lines(path, items):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        step = 1 << 16
        for start in range(0, len(items), step):
            chunk = items[start:start + step]
            f.write(("\r\n".join(chunk) + "\r\n").encode("utf-8"))
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("lines", type=lambda s: int(float(s)))
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--seed", type=int, default=20261207)
    args = parser.parse_args()
    started = time.monotonic()
    first, second = generate(args.lines, args.seed)
    write_lines(args.first, first)
    write_lines(args.second, second)
    print(f"generated 2 x {args.lines} lines in {time.monotonic() - started:.1f} s",
          file=sys.stderr)


if __name__ == "__main__":
    main()
