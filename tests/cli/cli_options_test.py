#!/usr/bin/env python3
"""The command line of listwise-cli: option syntax and messages.

Usage: cli_options_test.py PATH/TO/listwise-cli VERSION; the last line reads "N passed, M failed".
"""

import os
import subprocess
import sys
import tempfile

ENV = dict(os.environ, LC_ALL="C.UTF-8")
BOM = b"\xef\xbb\xbf"
TRY = "Try 'listwise-cli --help'.\n"


class Tally:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def check(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)))
        else:
            self.passed += 1

    def skip(self, name, why):
        self.skipped += 1
        print("SKIP %s: %s" % (name, why))


def run(cli, args, cwd, stdin=b""):
    proc = subprocess.run([cli] + args, input=stdin, capture_output=True, env=ENV, cwd=cwd,
                          timeout=60)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def syntax_cases(version):
    # name, arguments, standard input, exit status, stdout (None: any), stderr (None: any)
    usage = lambda line: "listwise-cli: %s\n%s" % (line, TRY)  # noqa: E731
    return [
        ("options after the lists", ["only-in-second", "a.txt", "b.txt", "--no-bom"], b"", 0,
         b"d", None),
        ("options before the mode", ["--no-bom", "only-in-second", "a.txt", "b.txt"], b"", 0,
         b"d", None),
        ("value after =", ["--read-sep=;", "--no-bom", "dedupe", "semi.txt"], b"", 0, b"x", None),
        ("value as the next argument", ["dedupe", "--read-sep", ";", "--no-bom", "semi.txt"], b"",
         0, b"x", None),
        ("a value may begin with a dash", ["dedupe", "--read-sep", "-", "--no-bom", "dash.txt"],
         b"", 0, b"x", None),
        ("-- ends the options", ["dedupe", "--no-bom", "--", "-x"], b"", 0, b"from -x", None),
        ("an option after -- is a list", ["only-in-second", "--", "a.txt", "--no-bom"], b"", 1,
         b"", "listwise-cli: --no-bom: Файл не существует\n"),
        ("- is standard input", ["only-in-second", "--no-bom", "a.txt", "-"], b"b\nz", 0, b"z",
         None),
        ("short options cluster", ["-iq", "--no-bom", "only-in-second", "a.txt", "-"], b"A\nZ", 0,
         b"Z", ""),
        ("whole separator", ["dedupe", "--no-bom", "-w", "--read-sep", "::", "colons.txt"], b"", 0,
         b"p:q", None),
        ("default output is the result file's bytes", ["merge", "a.txt", "b.txt"], b"", 0,
         BOM + b"a\r\nb\r\nb\r\nd\r\nc", None),
        ("--version", ["--version"], b"", 0, b"listwise %s\n" % version.encode(), ""),
        ("--version wins over the rest", ["dedupe", "--version", "--frobnicate"], b"", 0,
         b"listwise %s\n" % version.encode(), ""),
        ("unknown long option", ["dedupe", "a.txt", "--frobnicate"], b"", 2, b"",
         usage("unrecognized option '--frobnicate'")),
        ("unknown short option", ["dedupe", "a.txt", "-x"], b"", 2, b"",
         usage("invalid option '-x'")),
        ("ambiguous abbreviation", ["--re", ";", "dedupe", "a.txt"], b"", 2, b"",
         usage("option '--re' is ambiguous")),
        ("long option without its value", ["dedupe", "a.txt", "--read-sep"], b"", 2, b"",
         usage("option '--read-sep' requires a value")),
        ("short option without its value", ["dedupe", "a.txt", "-qo"], b"", 2, b"",
         usage("option '-o' requires a value")),
        ("value given to a flag", ["--ignore-case=yes", "dedupe", "a.txt"], b"", 2, b"",
         usage("option '--ignore-case' takes no value")),
        ("unknown mode", ["sort", "a.txt"], b"", 2, b"", usage("unknown mode 'sort'")),
        ("no mode", [], b"", 2, b"", usage("no mode given")),
        ("second list missing", ["merge", "a.txt"], b"", 2, b"", usage("'merge' needs two lists")),
        ("an input error names the file", ["only-in-second", "a.txt", "lists/none.txt"], b"", 1,
         b"", "listwise-cli: lists/none.txt: Файл не существует\n"),
        ("an input error about no file names only the program",
         ["dedupe", "a.txt", "--read-sep="], b"", 1, b"",
         "listwise-cli: Отсутствует разделитель\n"),
    ]


def check_syntax(cli, version, d, tally):
    write(os.path.join(d, "a.txt"), b"a\nb\nc")
    write(os.path.join(d, "b.txt"), b"b\nd")
    write(os.path.join(d, "semi.txt"), b"x;x")
    write(os.path.join(d, "dash.txt"), b"x-x")
    write(os.path.join(d, "colons.txt"), b"p:q::p:q")
    write(os.path.join(d, "-x"), b"from -x")
    for name, args, stdin, want_status, want_out, want_err in syntax_cases(version):
        status, out, err = run(cli, args, d, stdin)
        problems = []
        if status != want_status:
            problems.append("exit status %d, expected %d" % (status, want_status))
        if want_out is not None and out != want_out:
            problems.append("stdout %r, expected %r" % (out, want_out))
        if want_err is not None and err != want_err:
            problems.append("stderr %r, expected %r" % (err, want_err))
        tally.check("%s %r" % (name, args), problems)
    status, out, _ = run(cli, ["dedupe", "--help", "a.txt"], d)
    tally.check("--help", [] if status == 0 and out.startswith(b"Usage: listwise-cli") else
                ["exit status %d, stdout %r" % (status, out[:60])])


def main():
    if len(sys.argv) != 3:
        print("usage: cli_options_test.py PATH/TO/listwise-cli VERSION", file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    tally = Tally()
    with tempfile.TemporaryDirectory(prefix="listwise-options-") as d:
        check_syntax(cli, sys.argv[2], d, tally)
    print("%d passed, %d failed%s" % (tally.passed, tally.failed,
                                       ", %d skipped" % tally.skipped if tally.skipped else ""))
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
