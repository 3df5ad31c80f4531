#!/usr/bin/env python3
"""Prints the table of Russian letter pairs that core/code_pages.cpp judges code pages by.

Usage: make_russian_bigrams.py ru_RU.dic   (the word list of Debian's hunspell-ru)

For each letter, and for the start of a word, how likely each letter (or the end of the word) is
to follow: the natural logarithm times 8, rounded, with half a count added to every pair so that
no pair is impossible. Letters are folded to lower case and ё to е.
"""
import math
import sys

LETTERS = 32  # а to я; index 32 is the edge of a word
counts = [[0] * 33 for _ in range(33)]
with open(sys.argv[1], encoding="utf-8") as dic:
    next(dic)  # the word count
    for line in dic:
        word = line.split("/")[0].strip().lower().replace("ё", "е")
        if len(word) < 2 or not all("а" <= c <= "я" for c in word):
            continue
        prev = LETTERS
        for c in word:
            k = ord(c) - 0x430
            counts[prev][k] += 1
            prev = k
        counts[prev][LETTERS] += 1

print("constexpr int8_t kRussianPairs[33][33] = {")
for a in range(33):
    total = sum(counts[a]) + 33 * 0.5
    row = []
    for b in range(33):
        if a == LETTERS and b == LETTERS:
            row.append(-127)
        else:
            row.append(max(-127, round(math.log((counts[a][b] + 0.5) / total) * 8)))
    print("    {" + ", ".join(str(v) for v in row) + "},")
print("};")
