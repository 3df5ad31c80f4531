"""A run long enough to watch: the window draws and answers while it goes on, shows its progress
in the status line with "Старт" greyed, drops further clicks on "Старт", and stops on Escape or
on a close request, leaving the earlier result file and the viewer alone.

The run is held in its working phase by a preloaded shim that slows the writes of the result
(tests/support/hold_io.c), so that the test acts in its middle however fast the machine; the test
lets it go on at full speed by creating the shim's gate file.
Usage (inside xvfb_session.sh --wm): progress_test.py path/to/listwise path/to/viewer_log
path/to/hold_io.so [shot dir]"""

import glob
import os
import re
import shutil
import sys
import time

import listwise_gui as gui

RESULT = "/tmp/~ListwiseData.txt"
RESULT_PREFIX = "/tmp/~ListwiseData"  # the result and its fresh copy, whatever their names
STATUS = re.compile(r"^Найдено (\d+) за (\d+) мсек$")
PROGRESS = re.compile(r"^(Чтение списка [12]: \d+ %|Обработка: \d+ %|Запись: \d+ %) · Esc — отмена$")
# Lists of 2 million distinct lines, about 38 MB each. The result, nearly all of the second list,
# is written at 64 KB a call with a pause of 20 ms before each while the hold lasts: 12 s at least
# on any machine, with the status line told after every group of slots.
BLOCK_LINES = 1_000_000
BLOCKS = 2


def write_list(path, step):
    """Distinct items, made a block at a time: the same block with another tag in every line."""
    block = b"".join(b"@%09d\r\n" % (i * step % 1_000_000_007) for i in range(BLOCK_LINES))
    with open(path, "wb") as f:
        for k in range(BLOCKS):
            f.write(block.replace(b"@", b"item%03d-" % k))


class Session:
    def __init__(self, binary, viewer, shim):
        self.dir, self.log, env = gui.viewer_sandbox(viewer, "listwise-progress-")
        first = os.path.join(self.dir, "first.txt")
        second = os.path.join(self.dir, "second.txt")
        write_list(first, 7919)
        write_list(second, 104729)
        self.gate = os.path.join(self.dir, "go-on")
        env.update(LD_PRELOAD=shim, LISTWISE_HOLD_PATH=RESULT_PREFIX, LISTWISE_HOLD_WHAT="writes",
                   LISTWISE_HOLD_GATE=self.gate)
        # A shim preloaded into an address-checked program does not come first among its libraries.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        self.program = gui.Program(binary, [first, second], env=env)
        self.c = self.program.controls()
        wx, wy, _, _ = self.program.geometry()
        cx, cy, cw, ch = self.c["StartButton"].rect()
        self.start_at = (wx + cx + cw // 2, wy + cy + ch // 2)

    def launches(self):
        if not os.path.exists(self.log):
            return 0
        with open(self.log, "rb") as f:
            return f.read().count(b"\n")

    def status(self):
        return self.c["StatusLine"].text()

    def hold(self, on):
        """Holds the runs from now on, or lets them go on at full speed."""
        if on:
            if os.path.exists(self.gate):
                os.unlink(self.gate)
        else:
            open(self.gate, "w").close()

    def start_and_wait_for_progress(self, what):
        gui.click_at(*self.start_at)
        return gui.check(gui.wait_for(lambda: PROGRESS.match(self.status()), timeout=120),
                         f"{what}: progress in the status line, it shows {self.status()!r}")

    def close(self):
        self.program.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def temporary_files():
    return sorted(glob.glob(RESULT + ".*"))


def check_extra_clicks(s, shots):
    """Two more clicks on the greyed "Старт" half-way: one run, one viewer."""
    before = s.launches()
    if not s.start_and_wait_for_progress("clicks"):
        return
    gui.check(not gui.is_sensitive(s.c["StartButton"]), "Старт is greyed during the run")
    if shots:
        s.program.screenshot(os.path.join(shots, "run-in-progress.png"))
    for _ in range(2):
        gui.click_at(*s.start_at)
        time.sleep(0.2)
    gui.run("xdotool", "key", "Return")  # nor does Enter
    gui.check(PROGRESS.match(s.status()),
              f"clicks: still running after the clicks, it shows {s.status()!r}")
    s.hold(False)
    gui.check(gui.wait_for(lambda: s.launches() > before, timeout=120),
              "clicks: the viewer started")
    # A second run would be held again: it would show its progress 0.3 s after its start, or,
    # had it ended already, start a second viewer.
    s.hold(True)
    gui.pump_events(2.0)
    gui.check_equal(s.launches() - before, 1, "clicks: viewer starts")
    gui.check(STATUS.match(s.status()), f"clicks: the count line, it shows {s.status()!r}")
    print(f"the run: {s.status()}", flush=True)
    gui.check(gui.is_sensitive(s.c["StartButton"]), "clicks: Старт unlocked after the run")


def check_escape(s):
    """Escape half-way: the run stops, the earlier result and the viewer are left alone."""
    with open(RESULT, "rb") as f:
        earlier = f.read()
    earlier_mtime = os.stat(RESULT).st_mtime_ns
    before = s.launches()
    # Outside a run Escape does nothing.
    shown = s.status()
    gui.run("xdotool", "key", "Escape")
    gui.pump_events(0.5)
    gui.check_equal(s.status(), shown, "Escape outside a run: the status line")
    if not s.start_and_wait_for_progress("Escape"):
        return
    pressed = time.time()
    gui.run("xdotool", "key", "Escape")
    gui.check(gui.wait_for(lambda: s.status() == "Отменено", timeout=60, step=0.01),
              f"Escape: the status line tells the stop, it shows {s.status()!r}")
    print(f"Escape during a run: the status line told the stop {time.time() - pressed:.2f} s "
          "after the key", flush=True)
    gui.pump_events(1.0)
    gui.check_equal(s.launches(), before, "Escape: no viewer")
    with open(RESULT, "rb") as f:
        gui.check(f.read() == earlier, "Escape: the earlier result file is unchanged")
    gui.check_equal(os.stat(RESULT).st_mtime_ns, earlier_mtime, "Escape: the result not written")
    gui.check_equal(temporary_files(), [], "Escape: no temporary file left")
    gui.check(gui.wait_for(lambda: gui.is_sensitive(s.c["StartButton"]), timeout=30),
              "Escape: Старт unlocked")


def check_close(s):
    """A close request half-way ends the program with status 0."""
    if not s.start_and_wait_for_progress("close"):
        return
    asked = time.time()
    gui.run("wmctrl", "-c", "Listwise")
    status = s.program.wait_exit(timeout=60)
    print(f"close during a run: the process ended {time.time() - asked:.2f} s after the request",
          flush=True)
    gui.check_equal(status, 0, "close during a run: exit status")
    gui.check_equal(temporary_files(), [], "close: no temporary file left")


def main():
    binary, viewer, shim = sys.argv[1], sys.argv[2], sys.argv[3]
    shots = sys.argv[4] if len(sys.argv) > 4 else ""
    if shots:
        os.makedirs(shots, exist_ok=True)
    s = Session(binary, viewer, shim)
    try:
        check_extra_clicks(s, shots)
        check_escape(s)
        check_close(s)
    finally:
        s.close()
    gui.finish()


if __name__ == "__main__":
    main()
