#!/usr/bin/env python3
"""listwise-cli's progress bar and its Ctrl-C: a long run draws the bar on a terminal and nothing
more anywhere else, and an interrupt at any phase leaves an earlier --output file and no
temporary file behind.

Every run that must last is held in its phase by a preloaded shim that slows the reads or the
writes of one file (tests/support/hold_io.c), so that the bar shows and the interrupt comes in
the middle of the run on a machine of any speed; the test waits for what the bar shows, never
for a time.

Usage: cli_progress_test.py PATH/TO/listwise-cli PATH/TO/hold_io.so; the last line reads
"N passed, M failed".
"""

import os
import pty
import re
import resource
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# The bar and the count line are read in English; any LANGUAGE of the caller is set aside.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="", TERM="xterm")
# A shim preloaded into an address-checked program does not come first among its libraries.
ENV["ASAN_OPTIONS"] = ENV.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
COUNT_LINE = re.compile(rb"^Found \d+ in \d+ ms\n$")
SANITIZED = os.environ.get("LISTWISE_SANITIZED") == "1"
# Lists of 2 million distinct lines, about 38 MB each. Their size matters only through the hold:
# at 64 KB a call and a pause of 20 ms, moving one of them takes 12 s however fast the machine.
BLOCK_LINES = 1_000_000
BLOCKS = 2


def write_list(path, step):
    block = b"".join(b"@%09d\r\n" % (i * step % 1_000_000_007) for i in range(BLOCK_LINES))
    with open(path, "wb") as f:
        for k in range(BLOCKS):
            f.write(block.replace(b"@", b"item%03d-" % k))


class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, problems):
        if problems:
            self.failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)), flush=True)
        else:
            self.passed += 1


def held(shim, path, what="both", ms=20, step=65536):
    """The environment that holds the reads or writes (or both) of files under `path`."""
    return {"LD_PRELOAD": shim, "LISTWISE_HOLD_PATH": path, "LISTWISE_HOLD_WHAT": what,
            "LISTWISE_HOLD_MS": str(ms), "LISTWISE_HOLD_BYTES": str(step)}


def under_script(command, cwd, env):
    """What the command writes to its terminal, run by script(1) in a pseudo-terminal."""
    proc = subprocess.run(["script", "-qec", command, "/dev/null"], capture_output=True,
                          env=env, cwd=cwd, timeout=600, stdin=subprocess.DEVNULL)
    return proc.returncode, proc.stdout


def check_bar(cli, shim, d, tally):
    base = "%s only-in-second first.txt second.txt -o out.txt" % shlex.quote(cli)
    # The result's writes are held to 3 s or more, all in the working phase.
    env = dict(ENV, **held(shim, os.path.join(d, "out.txt"), "writes", ms=5))
    # name, extra options, whether the bar shows
    for name, options, bar in [("a terminal", "", True), ("--no-progress", " --no-progress", False),
                               ("-q", " -q --progress", False)]:
        status, seen = under_script(base + options, d, env)
        problems = []
        if status != 0:
            problems.append("exit status %d" % status)
        drawn = b"\r" in seen and re.search(rb"(reading first\.txt|working) \[", seen) is not None
        if drawn != bar:
            problems.append("bar drawn: %s, output %r" % (drawn, seen[-300:]))
        if bar and not re.search(rb"working \[#*-*\] +\d+%", seen):
            problems.append("no working phase in %r" % seen[-300:])
        # The bar is taken away before the count line, which -q leaves out too.
        last = seen.replace(b"\r\n", b"\n").split(b"\r")[-1].removeprefix(b"\x1b[K")
        if (last != b"") if "-q" in options else not COUNT_LINE.match(last):
            problems.append("the last line %r" % last)
        tally.check("bar on %s" % name, problems)

    # The same run with standard error into a pipe: the count line alone, as always.
    proc = subprocess.run([cli, "only-in-second", "first.txt", "second.txt", "-o", "out.txt",
                           "--progress"], capture_output=True, env=env, cwd=d, timeout=600)
    tally.check("no bar into a pipe", [] if proc.returncode == 0 and COUNT_LINE.match(proc.stderr)
                else ["status %d, stderr %r" % (proc.returncode, proc.stderr[-300:])])


def interrupt_when(cli, d, args, seen_marker, env, limit=None):
    """Starts the run with its standard error on a pseudo-terminal, sends SIGINT once the bar
    shows `seen_marker` and returns the exit status, the time the run took to stop after the
    signal, and whether the marker was seen."""
    master, slave = pty.openpty()
    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    proc = subprocess.Popen([cli] + args, cwd=d, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=slave, env=env,
                            preexec_fn=limit_memory if limit else None)
    os.close(slave)
    seen = b""
    # A generous bound for a loaded machine: the hold keeps the phase for far longer than the
    # bar needs to show it.
    end = time.time() + 300
    while seen_marker not in seen and time.time() < end and proc.poll() is None:
        ready, _, _ = select.select([master], [], [], 1)
        if ready:
            try:
                seen += os.read(master, 65536)
            except OSError:
                break
    asked = time.time()
    proc.send_signal(signal.SIGINT)
    status = proc.wait(timeout=300)
    took = time.time() - asked
    os.close(master)
    return status, took, seen_marker in seen


def check_interrupt(cli, shim, d, tally):
    tmp = os.path.join(d, "tmp")
    os.mkdir(tmp)
    out_dir = os.path.join(d, "out")
    os.mkdir(out_dir)
    target = os.path.join(out_dir, "result.txt")
    first = os.path.join(d, "first.txt")
    # name, arguments, what the bar shows when the interrupt comes, what is held, the
    # address-space limit
    cases = [
        ("while reading", ["in-both", "first.txt", "second.txt"], b"reading first.txt",
         held(shim, first, "reads"), None),
        ("while working", ["only-in-second", "first.txt", "second.txt"], b"working",
         held(shim, target, "writes"), None),
        # Its result, the 100,000 items of utf32.txt, is written 4 KB at a time: 10 s at least.
        ("a converted list", ["only-in-second", "first.txt", "utf32.txt"], b"working",
         held(shim, target, "writes", step=4096), None),
        # In an order of its own the result is written once every group is made.
        ("in order, while writing", ["dedupe", "--order=first", "first.txt"], b"writing",
         held(shim, target, "writes"), None),
    ]
    # Too little address space for the list: it goes through temporary files, whose reading back
    # is held, so that the working phase lasts only when the run did spill. AddressSanitizer
    # cannot start under such a limit.
    if not SANITIZED:
        cases.append(("spilled, while working", ["dedupe", "first.txt"], b"working",
                      held(shim, tmp + "/", "reads"), 96 << 20))
    for name, args, marker, hold, limit in cases:
        with open(target, "wb") as f:
            f.write(b"earlier result")
        env = dict(ENV, TMPDIR=tmp, **hold)
        status, took, reached = interrupt_when(cli, d, args + ["-o", target], marker, env, limit)
        problems = []
        if not reached:
            problems.append("the bar never showed %r" % marker)
        if status != -signal.SIGINT:
            problems.append("exit status %d, not the interrupt's" % status)
        with open(target, "rb") as f:
            if f.read() != b"earlier result":
                problems.append("the earlier output was replaced")
        if os.listdir(out_dir) != ["result.txt"]:
            problems.append("left beside the output: %s" % os.listdir(out_dir))
        if os.listdir(tmp):
            problems.append("left in TMPDIR: %s" % os.listdir(tmp))
        print("interrupt %s: stopped %.2f s after the signal" % (name, took), flush=True)
        tally.check("interrupt %s" % name, problems)


def main():
    cli = os.path.abspath(sys.argv[1])
    shim = os.path.abspath(sys.argv[2])
    tally = Tally()
    d = tempfile.mkdtemp(prefix="listwise-progress-")
    try:
        write_list(os.path.join(d, "first.txt"), 7919)
        write_list(os.path.join(d, "second.txt"), 104729)
        with open(os.path.join(d, "second.txt"), "rb") as f:
            head = f.read(2 << 20)
        # UTF-32, converted as it is read.
        with open(os.path.join(d, "utf32.txt"), "wb") as f:
            f.write(b"\xff\xfe\x00\x00" + head.decode("ascii").encode("utf-32-le"))
        check_bar(cli, shim, d, tally)
        check_interrupt(cli, shim, d, tally)
    finally:
        shutil.rmtree(d, ignore_errors=True)
    print("%d passed, %d failed" % (tally.passed, tally.failed))
    sys.exit(1 if tally.failed else 0)


if __name__ == "__main__":
    main()
