#!/usr/bin/env python3
"""Lists as users bring them to listwise-cli: one list's encoding named apart from the other's,
and binary files, told with how much of them was read (the readings themselves are pinned in
tests/engine/encodings_test.cpp).

Usage: encodings_test.py PATH/TO/listwise-cli; the last line reads "N passed, M failed".
"""

import os
import shutil
import subprocess
import sys
import tempfile

# The messages are read in Russian. LANGUAGE picks the catalogue under any locale but C.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="ru")
NAMES = ["АЛЕКСЕЕВ", "ЛЕБЕДЕВ"]


def cases(ls):
    # name, files {name: bytes}, arguments, standard input, the lines stdout holds in any order
    # (None: any), a text stderr must hold ("" for nothing in particular), exit status
    koi8 = "\n".join(NAMES).encode("koi8-r")
    utf8 = "\n".join(NAMES).encode()
    table = [
        ("one list in KOI8-R named, the other judged", {"a": koi8, "b": utf8},
         ["in-both", "--encoding-first=koi8-r", "a", "b"], None, NAMES, "", 0),
        ("the option of one list wins over -e wherever it stands", {"a": koi8, "b": utf8},
         ["in-both", "--encoding-second=utf-8", "-e", "koi8-r", "a", "b"], None, NAMES, "", 0),
        ("the second list alone named", {"a": utf8, "b": koi8},
         ["only-in-second", "--encoding-second", "koi8-r", "a", "b"], None, [], "", 0),
        ("an unknown name for one list", {"a": koi8},
         ["dedupe", "--encoding-first=koi9", "a"], None, None, "неизвестная кодировка «koi9»", 2),
    ]
    if ls is not None:
        zero = ls.index(0)
        size = len(ls)
        whole = " из %d КБ" % (size // 1024) if 10 << 10 <= size < 1 << 20 else ""
        table += [
            ("a program file", {"ls": ls}, ["dedupe", "ls"], None, None,
             "ls: похож на двоичный: прочитано %d Б%s" % (zero, whole), 0),
            ("a program through a pipe, not read to its end", {}, ["dedupe", "-"], ls, None,
             "-: похож на двоичный: прочитано %d Б до нулевого байта" % zero, 0),
        ]
    return table


def main():
    if len(sys.argv) != 2:
        print("usage: encodings_test.py PATH/TO/listwise-cli", file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    ls_path = shutil.which("ls")
    ls = open(ls_path, "rb").read() if ls_path else None
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="listwise-encodings-") as d:
        for name, files, args, stdin, lines, told, status in cases(ls):
            for file, data in files.items():
                with open(os.path.join(d, file), "wb") as f:
                    f.write(data)
            proc = subprocess.run([cli, "--plain"] + args, input=stdin or b"", cwd=d, env=ENV,
                                  capture_output=True, timeout=120)
            err = proc.stderr.decode("utf-8", "replace")
            problems = []
            if proc.returncode != status:
                problems.append("exit %d, expected %d" % (proc.returncode, status))
            if lines is not None and \
                    sorted(proc.stdout.decode("utf-8", "replace").split("\n")[:-1]) != sorted(lines):
                problems.append("stdout %r" % proc.stdout[:200])
            if told not in err:
                problems.append("stderr %r lacks %r" % (err, told))
            if problems:
                failed += 1
                print("FAIL %s: %s" % (name, "; ".join(problems)))
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
