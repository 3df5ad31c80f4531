#!/usr/bin/env python3
"""The command line of listwise-cli: option syntax, --plain, and an --output that never loses
the earlier file.

Usage: cli_options_test.py PATH/TO/listwise-cli VERSION; the last line reads "N passed, M failed".
"""

import os
import resource
import shutil
import subprocess
import sys
import tempfile

# The messages are read in English, whatever LANGUAGE the caller has.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="")
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


def run(cli, args, cwd, stdin=b"", prefix=(), limit=None):
    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    proc = subprocess.run(list(prefix) + [cli] + args, input=stdin, capture_output=True,
                          env=ENV, cwd=cwd, timeout=60,
                          preexec_fn=limit_memory if limit else None)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def syntax_cases(version):
    # name, arguments, standard input, exit status, stdout (None: any; or a test of it), stderr
    # (None: any)
    usage = lambda line: "listwise-cli: %s\n%s" % (line, TRY)  # noqa: E731
    return [
        ("options after the lists", ["only-in-second", "a.txt", "b.txt", "--no-bom"], b"", 0,
         b"d", None),
        ("value after =", ["--read-sep=;", "--no-bom", "dedupe", "semi.txt"], b"", 0, b"x", None),
        ("value as the next argument", ["dedupe", "--read-sep", ";", "--no-bom", "semi.txt"], b"",
         0, b"x", None),
        ("a value may begin with a dash", ["dedupe", "--read-sep", "-", "--no-bom", "dash.txt"],
         b"", 0, b"x", None),
        ("-- ends the options", ["dedupe", "--no-bom", "--", "-x"], b"", 0, b"from -x", None),
        ("an option after -- is a list", ["only-in-second", "--", "a.txt", "--no-bom"], b"", 1,
         b"", "listwise-cli: --no-bom: File does not exist\n"),
        ("- is standard input", ["only-in-second", "--no-bom", "a.txt", "-"], b"b\nz", 0, b"z",
         None),
        ("short options cluster", ["-iq", "--no-bom", "only-in-second", "a.txt", "-"], b"A\nZ", 0,
         b"Z", ""),
        ("whole separator", ["dedupe", "--no-bom", "-w", "--read-sep", "::", "colons.txt"], b"", 0,
         b"p:q", None),
        ("default output is the result file's bytes", ["merge", "a.txt", "b.txt"], b"", 0,
         BOM + b"a\r\nb\r\nb\r\nd\r\nc", None),
        ("--plain: one line per item in table order, no mark",
         ["dedupe", "--plain", "a.txt"], b"", 0,
         lambda out: sorted(out.split(b"\n")) == [b"", b"a", b"b", b"c"] and out[-1:] == b"\n",
         None),
        ("--plain merge: line feeds, pairs joined by the result separator",
         ["merge", "--plain", "a.txt", "b.txt"], b"", 0, b"a\nb\nb\nd\nc\n", None),
        ("--plain keeps an explicit result separator",
         ["merge", "--plain", "--result-sep", "\\t", "a.txt", "b.txt"], b"", 0,
         b"a\tb\nb\td\nc\n", None),
        ("--plain: an empty result is no line at all", ["only-in-second", "--plain", "a.txt", "-"],
         b"c\n\na", 0, b"", None),
        ("--plain: a result of one empty item is one empty line",
         ["in-both", "--plain", "-", "nl.txt"], b"\n", 0, b"\n", None),
        ("--version: the program, its package, then the licence as GNU programs give it",
         ["--version"], b"", 0,
         lambda out: out.startswith(b"listwise-cli (listwise) %s\nCopyright (C) "
                                    % version.encode()) and b"\nLicense MIT: " in out, ""),
        ("--help wins over the rest", ["dedupe", "--help", "--frobnicate"], b"", 0,
         lambda out: out.startswith(b"Usage: listwise-cli"), ""),
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
        ("unknown order", ["dedupe", "--order=random", "a.txt"], b"", 2, b"",
         usage("unknown order 'random' (known: table, first, sorted, count)")),
        ("count order without counts", ["in-both", "--order", "count", "a.txt", "b.txt"], b"", 2,
         b"", usage("'--order=count' needs a mode that counts, not 'in-both'")),
        ("merge refuses an order of its own", ["merge", "--order=sorted", "a.txt", "b.txt"], b"",
         2, b"", usage("'merge' keeps its lines in their order: '--order=sorted' cannot be used "
                       "with it")),
        ("merge takes first order as its own",
         ["merge", "--order=first", "--plain", "a.txt", "b.txt"], b"", 0, b"a\nb\nb\nd\nc\n",
         None),
        ("an order applies to the mode named after it", ["--order=count", "count", "--plain",
                                                          "semi.txt", "--read-sep=;"], b"", 0,
         b"2 x\n", None),
        ("an input error names the file", ["only-in-second", "a.txt", "lists/none.txt"], b"", 1,
         b"", "listwise-cli: lists/none.txt: File does not exist\n"),
        ("an input error about no file names only the program",
         ["dedupe", "a.txt", "--read-sep="], b"", 1, b"",
         "listwise-cli: Missing separator\n"),
    ]


def check_syntax(cli, version, d, tally):
    write(os.path.join(d, "a.txt"), b"a\nb\nc")
    write(os.path.join(d, "b.txt"), b"b\nd")
    write(os.path.join(d, "semi.txt"), b"x;x")
    write(os.path.join(d, "dash.txt"), b"x-x")
    write(os.path.join(d, "colons.txt"), b"p:q::p:q")
    write(os.path.join(d, "-x"), b"from -x")
    write(os.path.join(d, "nl.txt"), b"z\n")
    for name, args, stdin, want_status, want_out, want_err in syntax_cases(version):
        status, out, err = run(cli, args, d, stdin)
        problems = []
        if status != want_status:
            problems.append("exit status %d, expected %d" % (status, want_status))
        if want_out is not None and not (want_out(out) if callable(want_out) else out == want_out):
            problems.append("stdout %r, expected %r" % (out, want_out))
        if want_err is not None and err != want_err:
            problems.append("stderr %r, expected %r" % (err, want_err))
        tally.check("%s %r" % (name, args), problems)


def check_output_file(cli, d, tally):
    out = os.path.join(d, "out", "result.txt")
    os.mkdir(os.path.dirname(out))

    def leftovers():
        return sorted(set(os.listdir(os.path.dirname(out))) - {"result.txt", "real.txt", "link"})

    os.umask(0o022)
    status, _, _ = run(cli, ["dedupe", "a.txt", "-qo", out], d)
    mode = os.stat(out).st_mode & 0o777
    tally.check("a new file gets 0666 less the umask",
                [] if status == 0 and mode == 0o644 else ["status %d, mode %o" % (status, mode)])

    os.chmod(out, 0o640)
    status, _, _ = run(cli, ["dedupe", "--no-bom", "--read-sep=;", "semi.txt", "-qo", out], d)
    mode = os.stat(out).st_mode & 0o777
    tally.check("a replaced file keeps its mode and gets the new bytes",
                [] if (status, mode, read(out)) == (0, 0o640, b"x") else
                ["status %d, mode %o, bytes %r" % (status, mode, read(out))])
    os.unlink(out)

    real = os.path.join(os.path.dirname(out), "real.txt")
    link = os.path.join(os.path.dirname(out), "link")
    for name, make_target in (("to a file", True), ("dangling", False)):
        if make_target:
            write(real, b"earlier")
        os.symlink("real.txt", link)
        status, _, _ = run(cli, ["dedupe", "--no-bom", "--read-sep=;", "semi.txt", "-qo", link], d)
        problems = []
        if status != 0 or not os.path.islink(link):
            problems.append("status %d; the link was %s" % (
                status, "kept" if os.path.islink(link) else "replaced"))
        elif read(real) != b"x":
            problems.append("the linked file holds %r" % read(real))
        tally.check("--output through a symbolic link %s" % name, problems + leftovers())
        for path in (link, real):
            if os.path.lexists(path):
                os.unlink(path)

    # Failures: the earlier file stays whole, no fresh file is left behind, and no count is told
    # as if the run had succeeded.
    write(os.path.join(d, "big.txt"), b"".join(b"item%07d\n" % i for i in range(400000)))
    cases = [("a directory", ["dedupe", "a.txt", "-o", d], d,
              "cannot write: Is a directory"),
             ("a device that is full", ["dedupe", "a.txt", "-o", "/dev/full"], "/dev/full",
              "cannot write: No space left on device")]
    for name, args, named, message in cases:
        status, _, err = run(cli, args, d)
        want = "listwise-cli: %s: %s\n" % (named, message)
        tally.check("--output to %s" % name, [] if (status, err) == (1, want) else
                    ["status %d, stderr %r, expected %r" % (status, err, want)])

    check_full_disk(cli, d, tally)

    with open(cli, "rb") as f:
        if b"__asan_init" in f.read():
            tally.skip("out of memory", "AddressSanitizer reserves more address space")
            return
    # Memory runs out at some limit while loading, at a higher one while computing or writing;
    # whichever happens, the earlier file must stay whole until a run succeeds.
    failures = 0
    for megabytes in range(8, 200, 6):
        write(out, b"earlier")
        status, _, err = run(cli, ["dedupe", "big.txt", "-qo", out], d, limit=megabytes << 20)
        if status == 0:
            break
        failures += 1
        problems = leftovers()
        if status != 1 or read(out) != b"earlier":
            problems.append("status %d, stderr %r, file %r" % (status, err, read(out)[:20]))
        if problems:
            tally.check("out of memory at %d MiB" % megabytes, problems)
            break
    else:
        tally.check("out of memory", ["no run succeeded"])
    tally.check("out of memory keeps the earlier file",
                [] if failures else ["not even the smallest limit failed"])


def check_full_disk(cli, d, tally):
    """A small tmpfs in a private mount namespace; needs root or user namespaces."""
    name = "--output on a full disk keeps the earlier file"
    if shutil.which("unshare") is None:
        tally.skip(name, "no unshare")
        return
    script = ('mount -t tmpfs -o size=64k tmpfs "$1" || exit 99; printf earlier > "$1/r.txt"; '
              '"$2" dedupe big.txt -qo "$1/r.txt"; echo "status $?"; cat "$1/r.txt"; echo; '
              'ls -A "$1"')
    mount_point = os.path.join(d, "small")
    os.mkdir(mount_point)
    proc = subprocess.run(["unshare", "-m", "-r", "sh", "-c", script, "sh", mount_point, cli],
                          capture_output=True, cwd=d, env=ENV, timeout=60)
    if proc.returncode != 0:
        tally.skip(name, "cannot mount a tmpfs here")
        return
    got = proc.stdout.decode()
    want = "status 1\nearlier\nr.txt\n"
    message = "listwise-cli: %s/r.txt: cannot write: No space left on device\n" % mount_point
    err = proc.stderr.decode()
    tally.check(name, [] if got == want and err == message else
                ["stdout %r, stderr %r" % (got[:200], err)])


def main():
    if len(sys.argv) != 3:
        print("usage: cli_options_test.py PATH/TO/listwise-cli VERSION", file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    tally = Tally()
    with tempfile.TemporaryDirectory(prefix="listwise-options-") as d:
        check_syntax(cli, sys.argv[2], d, tally)
        check_output_file(cli, d, tally)
    print("%d passed, %d failed%s" % (tally.passed, tally.failed,
                                       ", %d skipped" % tally.skipped if tally.skipped else ""))
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
