#!/usr/bin/env python3
"""INT, TERM, HUP and QUIT end listwise-cli by that signal and leave nothing behind: while it
waits on a named pipe with no writer (a list) or no reader (the --output), on an output nobody
reads, and while it writes, two interrupts in a row included. An earlier --output file stays
as it was.

Usage: cli_signals_test.py PATH/TO/listwise-cli PATH/TO/hold_io.so
"""
import glob
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

failures = []
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)
# System calls the main thread waits in on a pipe: read, write, poll, nanosleep, openat, ppoll
# and clock_nanosleep (x86-64 numbers).
WAITING_CALLS = {0, 1, 7, 35, 257, 271, 230}
EARLIER = b"earlier result\n"


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def allow_core():
    # A core, were one written, would land beside --output.
    _, hard = resource.getrlimit(resource.RLIMIT_CORE)
    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))


def waiting_on_pipe(pid):
    """Whether the main thread sleeps in a wait on a pipe, its stop signals caught."""
    try:
        with open(f"/proc/{pid}/status") as f:
            caught = int(next(l for l in f if l.startswith("SigCgt:")).split()[1], 16)
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        with open(f"/proc/{pid}/syscall") as f:
            call = f.read().split()[0]
    except (OSError, StopIteration):
        return False
    if caught & (1 << (signal.SIGINT - 1)) == 0:
        return False
    return state == "S" and call.isdigit() and int(call) in WAITING_CALLS


def wait_until(proc, predicate, what):
    """Waits for an event of the process; False when it ended first."""
    while proc.poll() is None:
        if predicate():
            return True
        time.sleep(0.01)
    check(False, f"{what}: the program ended before it waited (status {proc.returncode})")
    return False


class Work:
    def __init__(self, root, cli, env):
        self.root, self.cli, self.env = root, cli, env
        self.tmp = os.path.join(root, "tmp")
        os.mkdir(self.tmp)
        self.env = dict(env, TMPDIR=self.tmp)
        self.out = os.path.join(root, "out.txt")

    def start(self, args, env=None, stdout=subprocess.DEVNULL):
        with open(self.out, "wb") as f:
            f.write(EARLIER)
        return subprocess.Popen([self.cli, "-q"] + args, cwd=self.root, env=env or self.env,
                                stdout=stdout, stderr=subprocess.PIPE, preexec_fn=allow_core)

    def check_ended(self, proc, sig, what, files):
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            check(False, f"{what}: the program did not end")
            return
        check(proc.returncode == -sig,
              f"{what}: ended with {proc.returncode}, not by the signal; "
              f"{proc.stderr.read().decode()!r}")
        with open(self.out, "rb") as f:
            check(f.read() == EARLIER, f"{what}: the earlier --output changed")
        left = sorted(os.listdir(self.root))
        check(left == sorted(files + ["out.txt", "tmp"]), f"{what}: files left: {left}")
        check(os.listdir(self.tmp) == [], f"{what}: left in TMPDIR: {os.listdir(self.tmp)}")


def check_pipe_waits(work):
    fifo = os.path.join(work.root, "list.fifo")
    os.mkfifo(fifo)
    small = os.path.join(work.root, "small.txt")
    with open(small, "w") as f:
        f.writelines("item%d\n" % i for i in range(30000))  # more than a pipe holds
    cases = (("a list with no writer", ["dedupe", "list.fifo", "-o", "out.txt"], False),
             ("an --output with no reader", ["dedupe", "small.txt", "-o", "list.fifo"], False),
             ("an output that is not read", ["dedupe", "small.txt"], True))
    for name, args, stalled in cases:
        for sig in SIGNALS:
            what = f"{signal.Signals(sig).name} on {name}"
            proc = work.start(args, stdout=subprocess.PIPE if stalled else subprocess.DEVNULL)
            if wait_until(proc, lambda: waiting_on_pipe(proc.pid), what):
                proc.send_signal(sig)
            work.check_ended(proc, sig, what, ["list.fifo", "small.txt"])
            if proc.stdout:
                proc.stdout.close()
    os.unlink(fifo)
    os.unlink(small)


def check_write_phase(work, shim):
    """Writes of the fresh --output file are slowed by the shim, so the run is still writing
    when the signals come."""
    big = os.path.join(work.root, "big.txt")
    with open(big, "w") as f:
        f.writelines("item%d\n" % i for i in range(300000))
    # 4 KB a write, 20 ms apart: the 3 MB take a minute unless the gate opens.
    gate = os.path.join(work.root, "gate")
    env = dict(work.env, LD_PRELOAD=shim, LISTWISE_HOLD_PATH=work.out + ".",
               LISTWISE_HOLD_WHAT="writes", LISTWISE_HOLD_BYTES="4096", LISTWISE_HOLD_GATE=gate)
    # A shim preloaded before the sanitizers' runtime: they must not insist on coming first.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"

    def writing():
        try:
            return any(os.path.getsize(p) > 0 for p in glob.glob(work.out + ".*"))
        except OSError:
            return False
    for signals in ([signal.SIGHUP], [signal.SIGQUIT], [signal.SIGTERM],
                    [signal.SIGINT, signal.SIGINT]):
        what = "+".join(signal.Signals(s).name for s in signals) + " while writing"
        proc = work.start(["dedupe", "big.txt", "-o", "out.txt"], env)
        if wait_until(proc, writing, what):
            for k, sig in enumerate(signals):
                if k > 0:
                    time.sleep(0.001)
                proc.send_signal(sig)
        open(gate, "w").close()
        work.check_ended(proc, signals[0], what, ["big.txt", "gate"])
        os.unlink(gate)


def main():
    cli, shim = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    with tempfile.TemporaryDirectory(prefix="listwise-signals-") as root:
        work = Work(root, cli, env)
        check_pipe_waits(work)
        check_write_phase(work, shim)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
