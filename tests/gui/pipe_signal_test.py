"""A list that is a named pipe with no writer leaves the window answering: the status line tells
the reading, and Escape cancels it. Stop signals close the window as its close button does:
mid-run the unfinished result file goes, and a message box on the screen is no obstacle.
Usage (inside xvfb_session.sh --wm): pipe_signal_test.py path/to/listwise path/to/viewer_log
path/to/hold_io.so [shot dir]"""

import glob
import os
import shutil
import signal
import sys

import listwise_gui as gui

RESULT = "/tmp/~ListwiseData.txt"


def temporary_files():
    return sorted(glob.glob(RESULT + ".*"))


def launches(log):
    if not os.path.exists(log):
        return 0
    with open(log, "rb") as f:
        return f.read().count(b"\n")


def shown(control):
    """The control's text; empty while the program does not answer the accessibility bus."""
    try:
        return control.text()
    except gui.GLib.Error:
        return ""


def holds_open(pid, path):
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                return True
        except OSError:
            pass
    return False


def check_pipe_with_no_writer(binary, directory, log, env, shots):
    fifo = os.path.join(directory, "list.fifo")
    os.mkfifo(fifo)
    second = os.path.join(directory, "second.txt")
    with open(second, "w") as f:
        f.write("a\nb\n")
    program = gui.Program(binary, [fifo, second], env=env)
    try:
        c = program.controls()
        status = c["StatusLine"]
        gui.click_control(program, c["StartButton"])
        reading = gui.wait_for(lambda: shown(status).startswith("Чтение списка 1"), timeout=30)
        gui.check(reading, f"pipe: the status line tells the reading, it shows {shown(status)!r}")
        if not reading:
            return
        gui.check(not gui.is_sensitive(c["StartButton"]), "pipe: Старт greyed while it waits")
        if shots:
            program.screenshot(os.path.join(shots, "waiting-on-pipe.png"))
        gui.run("xdotool", "key", "Escape")
        gui.check(gui.wait_for(lambda: shown(status) == "Отменено", timeout=30),
                  f"pipe: Escape cancels, the status line shows {shown(status)!r}")
        # The status line is told the stop just before the controls are unlocked.
        gui.check(gui.wait_for(lambda: gui.is_sensitive(c["StartButton"]), timeout=30),
                  "pipe: Старт unlocked")
        gui.check(not holds_open(program.process.pid, fifo), "pipe: still open after the stop")
        gui.check_equal(launches(log), 0, "pipe: viewer starts")
        gui.check_equal(temporary_files(), [], "pipe: temporary files")
    finally:
        program.kill()


def check_message_box(binary, directory, env):
    """SIGTERM while a message box waits for its answer."""
    program = gui.Program(binary, [os.path.join(directory, "missing.txt"), "b.txt"], env=env)
    try:
        c = program.controls()
        gui.click_control(program, c["StartButton"])
        shown = gui.wait_for(lambda: gui.run("xdotool", "search", "--onlyvisible", "--pid",
                                             str(program.process.pid), "--name", "^Ошибка$"),
                             timeout=30)
        if gui.check(shown, "message box: it came"):
            program.process.send_signal(signal.SIGTERM)
            gui.check_equal(program.wait_exit(timeout=30), 0, "message box: SIGTERM exit status")
    finally:
        program.kill()


def check_signal_while_writing(binary, directory, log, env, shim, sig, status):
    """A signal while the run writes its result, its writes slowed by the shim meanwhile."""
    what = signal.Signals(sig).name
    first = os.path.join(directory, "first.txt")
    second = os.path.join(directory, "big.txt")
    with open(first, "w") as f:
        f.write("a\n")
    with open(second, "w") as f:
        f.writelines("item%d\n" % i for i in range(300000))
    # 4 KB a write, 20 ms apart: the 3 MB take a minute, time enough to act whatever the load.
    env = dict(env, LD_PRELOAD=shim, LISTWISE_HOLD_PATH=RESULT + ".", LISTWISE_HOLD_WHAT="writes",
               LISTWISE_HOLD_BYTES="4096")
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    before = launches(log)
    program = gui.Program(binary, [first, second], env=env)

    def writing():
        try:
            return program.process.poll() is not None or \
                any(os.path.getsize(p) > 0 for p in temporary_files())
        except OSError:
            return False
    try:
        c = program.controls()
        gui.click_control(program, c["StartButton"])
        if gui.check(gui.wait_for(writing, timeout=60) and program.process.poll() is None,
                     f"{what}: the run reached its write"):
            program.process.send_signal(sig)
            gui.check_equal(program.wait_exit(timeout=60), status, f"{what}: exit status")
        gui.check_equal(temporary_files(), [], f"{what}: temporary files")
        gui.check_equal(launches(log), before, f"{what}: viewer starts")
    finally:
        program.kill()


def main():
    binary, viewer, shim = sys.argv[1], sys.argv[2], sys.argv[3]
    shots = sys.argv[4] if len(sys.argv) > 4 else ""
    if shots:
        os.makedirs(shots, exist_ok=True)
    directory, log, env = gui.viewer_sandbox(viewer, "listwise-pipe-")
    try:
        check_pipe_with_no_writer(binary, directory, log, env, shots)
        check_message_box(binary, directory, env)
        for sig, status in ((signal.SIGTERM, 0), (signal.SIGINT, -signal.SIGINT)):
            check_signal_while_writing(binary, directory, log, env, shim, sig, status)
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    gui.finish()


if __name__ == "__main__":
    main()
