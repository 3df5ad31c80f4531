"""How long the window goes without drawing or answering during a long run: starts the program
on two lists, clicks "Старт" and lets answer_probe ask the window to redraw and to answer a ping
every 20 ms until the run has ended. A measurement run by hand, not a test.
Usage (inside xvfb_session.sh --wm): busy_window.py path/to/answer_probe path/to/listwise FIRST
SECOND [--stopped]; with --stopped the program is stopped with SIGSTOP for a second first, to
show that the probe sees a window that does not answer."""

import os
import re
import signal
import subprocess
import sys
import time

import listwise_gui as gui

STATUS = re.compile(r"^Найдено \d+ за \d+ мсек")


def main():
    probe, binary, first, second = sys.argv[1:5]
    stopped = "--stopped" in sys.argv[5:]
    directory, log, env = gui.viewer_sandbox("/bin/true", "listwise-busy-")
    program = gui.Program(binary, [first, second], env=env)
    try:
        controls = program.controls()
        if stopped:
            os.kill(program.process.pid, signal.SIGSTOP)
            look = subprocess.run([probe, program.window, "1"], capture_output=True, text=True)
            os.kill(program.process.pid, signal.SIGCONT)
            print("stopped for 1 s:", look.stdout.strip(), flush=True)
        began = time.time()
        gui.click_control(program, controls["StartButton"])
        watch = subprocess.Popen([probe, program.window, "600"], stdout=subprocess.PIPE,
                                 text=True)
        gui.wait_for(lambda: STATUS.match(controls["StatusLine"].text()), timeout=600, step=0.5)
        took = time.time() - began
        watch.send_signal(signal.SIGTERM)
        print("during the run:", watch.communicate()[0].strip(), flush=True)
        print(f"run: {controls['StatusLine'].text()}, {took:.1f} s from the click", flush=True)
    finally:
        program.kill()


if __name__ == "__main__":
    main()
