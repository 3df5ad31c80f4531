#!/usr/bin/env python3
"""The man pages and the bash completion stay in step with listwise-cli.

Usage: cli_docs_test.py PATH/TO/listwise-cli SOURCE_DIR; the last line reads "N passed, M failed".
Exit status 77 (skipped) when neither groff nor bash is there to check with.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

PAGES = ("resources/man/listwise.1", "resources/man/listwise-cli.1")
COMPLETION = "resources/bash-completion/listwise-cli"


def long_options(cli):
    # The options as the English help names them; any LANGUAGE of the caller is set aside.
    env = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="")
    usage = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True,
                           env=env).stdout
    return sorted(set(re.findall(r"--[a-z][a-z-]+", usage)))


def check_pages(cli, source, fail):
    # The default device lacks Cyrillic glyphs and utf8 is what man(1) uses on a terminal: the
    # pages must format cleanly on both.
    for page in PAGES:
        for device in ([], ["-Tutf8"]):
            proc = subprocess.run(["groff", "-man", "-ww", "-z"] + device,
                                  stdin=open(os.path.join(source, page), "rb"),
                                  capture_output=True, text=True)
            if proc.returncode != 0 or proc.stderr:
                fail("%s %s: %s" % (page, " ".join(device) or "(default device)", proc.stderr))
    with open(os.path.join(source, PAGES[1])) as f:
        text = f.read().replace("\\-", "-")
    for option in long_options(cli):
        if option not in text:
            fail("listwise-cli.1 does not mention %s" % option)


def complete(script, words, cwd):
    """The candidates the completion offers for the last of `words`, and what it said on stderr."""
    program = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
               '_listwise_cli; printf "%s\\n" "${COMPREPLY[@]}"')
    proc = subprocess.run(["bash", "-c", program, "bash", script, "listwise-cli"] + words,
                          cwd=cwd, capture_output=True, text=True)
    return sorted(line for line in proc.stdout.split("\n") if line), proc.stderr


def check_completion(cli, source, fail):
    script = os.path.abspath(os.path.join(source, COMPLETION))
    with tempfile.TemporaryDirectory(prefix="listwise-completion-") as d:
        for name in ("old.txt", "other list.txt", "-dash.txt"):
            open(os.path.join(d, name), "w").close()
        modes = ["only-in-second", "in-both", "dedupe", "count", "merge", "only-in-first",
                 "union", "symmetric", "duplicates"]
        # words before the cursor, the word being completed, the expected candidates
        cases = [
            ([], "", modes),
            ([], "me", ["merge"]),
            (["--plain", "-i"], "d", ["dedupe", "duplicates"]),
            (["--trim", "--fold-yo"], "u", ["union"]),
            (["--read-sep", "x"], "c", ["count"]),
            (["--read-sep", "=", ";"], "c", ["count"]),
            (["--column", "E-mail", "--header"], "d", ["dedupe", "duplicates"]),
            (["--field-sep", "=", ";", "--column", "2"], "c", ["count"]),
            (["--column"], "", []),
            ([], "--pl", ["--plain"]),
            (["dedupe"], "o", ["old.txt", "other list.txt"]),
            (["dedupe", "--"], "-", ["-dash.txt"]),
            (["-o"], "ol", ["old.txt"]),
            (["dedupe", "--output", "="], "ol", ["old.txt"]),
            (["-qo"], "ol", ["old.txt"]),
        ]
        for before, cur, want in cases:
            got, err = complete(script, before + [cur], d)
            if got != sorted(want) or err:
                fail("completing %r after %r: %r, expected %r %s"
                     % (cur, before, got, sorted(want), err))
        offered = complete(script, ["--"], d)[0]
    for option in long_options(cli):
        if option not in offered and option + "=" not in offered:
            fail("the completion does not offer %s" % option)


def main():
    if len(sys.argv) != 3:
        print("usage: cli_docs_test.py PATH/TO/listwise-cli SOURCE_DIR", file=sys.stderr)
        return 2
    cli, source = os.path.abspath(sys.argv[1]), sys.argv[2]
    failures = []
    checked = 0
    for tool, check in (("groff", check_pages), ("bash", check_completion)):
        if shutil.which(tool) is None:
            print("SKIP %s: %s is not installed" % (check.__name__, tool))
            continue
        checked += 1
        check(cli, source, failures.append)
    for failure in failures:
        print("FAIL " + failure)
    print("%d checked, %d failed" % (checked, len(failures)))
    if failures:
        return 1
    return 0 if checked else 77


if __name__ == "__main__":
    sys.exit(main())
