"""Many runs from the window in one process leave nothing behind: after the first runs have
warmed it up, the resident memory grows by at most 1 MB, the open descriptors stay the same and
no child of the tool is left defunct.
Usage (inside xvfb_session.sh --wm): soak_test.py path/to/listwise path/to/viewer_log [runs]"""

import os
import shutil
import sys
import time

import listwise_gui as gui

RESULT = "/tmp/~ListwiseData.txt"
WARM_UP = 20
GROWTH_LIMIT_KB = 1024


def resident_kb(pid):
    """VmRSS and, of it, the anonymous memory, which pages of files shed under pressure leave
    unchanged."""
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "RssAnon"):
                values[key] = int(rest.split()[0])
    return values["VmRSS"], values["RssAnon"]


def open_descriptors(pid):
    return sorted(os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd"))


def main():
    binary, viewer = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    directory, log, env = gui.viewer_sandbox(viewer, "listwise-soak-")
    first = os.path.join(directory, "first.txt")
    second = os.path.join(directory, "second.txt")
    with open(first, "wb") as f:
        f.write(b"".join(b"%d\n" % i for i in range(200)))
    with open(second, "wb") as f:
        f.write(b"".join(b"%d\n" % i for i in range(100, 300)))
    program = gui.Program(binary, [first, second], env=env)

    def launches():
        if not os.path.exists(log):
            return 0
        with open(log, "rb") as f:
            return f.read().count(b"\n")

    pid = program.process.pid
    try:
        start = program.controls()["StartButton"]
        # Clicks straight at the button's middle, its place read once: the window never moves.
        wx, wy, _, _ = program.geometry()
        cx, cy, cw, ch = start.rect()
        at = (wx + cx + cw // 2, wy + cy + ch // 2)
        began = time.time()
        rss_warm = fds_warm = None
        for i in range(1, runs + 1):
            before = launches()
            gui.click_at(*at)
            if not gui.check(gui.wait_for(lambda: launches() > before, timeout=60, step=0.01),
                             f"run {i} started the viewer"):
                break
            if i == WARM_UP:
                rss_warm, fds_warm = resident_kb(pid), open_descriptors(pid)
        elapsed = time.time() - began
        # The last viewer's double fork ends on its own time: its child is reaped and its pipe
        # closed a moment after the viewer has logged its start.
        gui.wait_for(lambda: open_descriptors(pid) == fds_warm and not gui.defunct_children(pid),
                     timeout=60)
        rss_end, fds_end = resident_kb(pid), open_descriptors(pid)
        print(f"{runs} runs in {elapsed:.1f} s; VmRSS and RssAnon {rss_warm} kB after "
              f"{WARM_UP}, {rss_end} kB after {runs}; open descriptors {len(fds_warm or [])} "
              f"and {len(fds_end)}", flush=True)
        gui.check_equal(launches(), runs, "viewer starts")
        # AddressSanitizer holds freed blocks back in its quarantine (256 MB by default), so the
        # resident size of a sanitized build grows by design; its leak check covers that build.
        sanitized = os.environ.get("LISTWISE_SANITIZED") == "1"
        if gui.check(rss_warm is not None, f"{WARM_UP} runs made") and not sanitized:
            for what, warm, end in zip(("VmRSS", "RssAnon"), rss_warm, rss_end):
                gui.check(end - warm <= GROWTH_LIMIT_KB, f"{what} grew by {end - warm} kB")
        gui.check_equal(fds_end, fds_warm, "open descriptors")
        gui.check_equal(gui.defunct_children(pid), [], "defunct children")
        gui.check(os.path.getsize(RESULT) > 0, "the result file was written")
    finally:
        program.kill()
        shutil.rmtree(directory, ignore_errors=True)
    gui.finish()


if __name__ == "__main__":
    main()
