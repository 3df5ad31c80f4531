"""A close request from the window manager ends the program with status 0, also with work
waiting in the queue behind it.
Usage (inside xvfb_session.sh --wm): window_close_test.py path/to/listwise"""

import sys

import listwise_gui as gui


def start_managed(binary, args=()):
    program = gui.Program(binary, list(args))
    gui.wait_for(lambda: "Listwise" in gui.run("wmctrl", "-l"), timeout=10)
    return program


def main():
    binary = sys.argv[1]

    program = start_managed(binary, ["a.txt", "b.txt"])
    gui.run("wmctrl", "-c", "Listwise")
    status = program.wait_exit(timeout=10)
    gui.check_equal(status, 0, "exit status after the window manager's close")
    gui.check("Listwise" not in gui.run("wmctrl", "-l"), "the window is gone")
    program.kill()

    # After the user has typed, resized and clicked, the close still ends the program cleanly.
    program = start_managed(binary)
    x, y, w, h = program.geometry()
    gui.run("xdotool", "mousemove", str(x + 200), str(y + 25), "click", "1")
    gui.run("xdotool", "type", "--delay", "5", "abc")
    gui.run("xdotool", "windowsize", program.window, "640", "300")
    # A check box: a click on "Старт" would start a run, whose error box holds the close back
    # until the user closes the box.
    gui.run("xdotool", "mousemove", str(x + 100), str(y + 225), "click", "1")
    gui.run("wmctrl", "-c", "Listwise")
    status = program.wait_exit(timeout=10)
    gui.check_equal(status, 0, "exit status after activity and a close")
    program.kill()
    gui.finish()


if __name__ == "__main__":
    main()
