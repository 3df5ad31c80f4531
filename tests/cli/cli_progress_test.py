#!/usr/bin/env python3
"""listwise-cli's progress bar and its Ctrl-C: a long run draws the bar on a terminal and nothing
more anywhere else, and an interrupt at any phase leaves an earlier --output file and no
temporary file behind.

Usage: cli_progress_test.py PATH/TO/listwise-cli; the last line reads "N passed, M failed".
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

ENV = dict(os.environ, LC_ALL="C.UTF-8", TERM="xterm")
COUNT_LINE = re.compile("^Найдено \\d+ за \\d+ мсек\n$".encode())
# Lists of 10 million lines, about 190 MB each: some seconds of work, on one core. A build with
# the sanitizers works many times slower: a fifth of that lasts as long.
SANITIZED = os.environ.get("LISTWISE_SANITIZED") == "1"
BLOCK_LINES = 1_000_000
BLOCKS = 2 if SANITIZED else 10


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


def under_script(command, cwd):
    """What the command writes to its terminal, run by script(1) in a pseudo-terminal."""
    proc = subprocess.run(["script", "-qec", command, "/dev/null"], capture_output=True,
                          env=ENV, cwd=cwd, timeout=300, stdin=subprocess.DEVNULL)
    return proc.returncode, proc.stdout


def check_bar(cli, d, tally):
    base = "taskset -c 0 %s only-in-second first.txt second.txt -o out.txt" % shlex.quote(cli)
    # name, extra options, whether the bar shows
    for name, options, bar in [("a terminal", "", True), ("--no-progress", " --no-progress", False),
                               ("-q", " -q --progress", False)]:
        status, seen = under_script(base + options, d)
        problems = []
        if status != 0:
            problems.append("exit status %d" % status)
        # On a fast machine the reading may be over before the bar's first second: the working
        # phase is enough to show the bar (its line is checked on its own elsewhere).
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
    proc = subprocess.run(["taskset", "-c", "0", cli, "only-in-second", "first.txt", "second.txt",
                           "-o", "out.txt", "--progress"],
                          capture_output=True, env=ENV, cwd=d, timeout=300)
    tally.check("no bar into a pipe", [] if proc.returncode == 0 and COUNT_LINE.match(proc.stderr)
                else ["status %d, stderr %r" % (proc.returncode, proc.stderr[-300:])])


def interrupt_when(cli, d, args, seen_marker, tmp, limit=None):
    """Starts the run with its standard error on a pseudo-terminal, sends SIGINT once the bar
    shows `seen_marker` (at once when it is empty) and returns the exit status and the time the
    run took to stop."""
    master, slave = pty.openpty()
    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    proc = subprocess.Popen(["taskset", "-c", "0", cli] + args, cwd=d, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=slave, env=dict(ENV, TMPDIR=tmp),
                            preexec_fn=limit_memory if limit else None)
    os.close(slave)
    seen = b""
    end = time.time() + 120
    while seen_marker and seen_marker not in seen and time.time() < end:
        ready, _, _ = select.select([master], [], [], 1)
        if ready:
            try:
                seen += os.read(master, 65536)
            except OSError:
                break
    if not seen_marker:
        time.sleep(0.3)
    asked = time.time()
    proc.send_signal(signal.SIGINT)
    status = proc.wait(timeout=60)
    took = time.time() - asked
    os.close(master)
    return status, took, seen_marker in seen or not seen_marker


def check_interrupt(cli, d, tally):
    tmp = os.path.join(d, "tmp")
    os.mkdir(tmp)
    out_dir = os.path.join(d, "out")
    os.mkdir(out_dir)
    target = os.path.join(out_dir, "result.txt")
    # name, arguments, what the bar shows when the interrupt comes, the address-space limit
    cases = [
        ("while reading", ["only-in-second", "first.txt", "second.txt"], b"", None),
        ("while working", ["in-both", "first.txt", "second.txt"], b"working", None),
        ("the 16-bit engine", ["only-in-second", "utf32.txt", "second.txt"], b"", None),
    ]
    # Too little address space for the list: it goes through temporary files. AddressSanitizer
    # cannot start under such a limit.
    if not SANITIZED:
        cases.append(("spilled, while working", ["dedupe", "first.txt"], b"working", 400 << 20))
    for name, args, marker, limit in cases:
        with open(target, "wb") as f:
            f.write(b"earlier result")
        status, took, reached = interrupt_when(cli, d, args + ["-o", target], marker, tmp, limit)
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
    tally = Tally()
    d = tempfile.mkdtemp(prefix="listwise-progress-")
    try:
        write_list(os.path.join(d, "first.txt"), 7919)
        write_list(os.path.join(d, "second.txt"), 104729)
        with open(os.path.join(d, "first.txt"), "rb") as f:
            head = f.read(20 << 20)
        # UTF-32 is left to the 16-bit engine.
        with open(os.path.join(d, "utf32.txt"), "wb") as f:
            f.write(b"\xff\xfe\x00\x00" + head.decode("ascii").encode("utf-32-le"))
        check_bar(cli, d, tally)
        check_interrupt(cli, d, tally)
    finally:
        shutil.rmtree(d, ignore_errors=True)
    print("%d passed, %d failed" % (tally.passed, tally.failed))
    sys.exit(1 if tally.failed else 0)


if __name__ == "__main__":
    main()
