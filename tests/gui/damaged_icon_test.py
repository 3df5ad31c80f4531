"""A damaged embedded icon leaves out that icon alone: the program built with a cut-off swap
icon starts, shows the other icons and the window icon, and its swap button still works.
The intact program is looked at the same way, so the measure itself is shown to see icons.
Usage (inside xvfb_session.sh): damaged_icon_test.py listwise_damaged_icon listwise"""

import os
import re
import subprocess
import sys
import tempfile

import listwise_gui as gui

BUTTONS = ["OpenFirst", "PasteFirst", "SwapButton"]


def coloured_pixels(program, control, shot):
    """How many clearly coloured (not grey) pixels the button shows: its icon's."""
    wx, wy, _, _ = program.geometry()
    x, y, w, h = control.rect()
    out = subprocess.run(["convert", shot, "-crop", f"{w - 8}x{h - 8}+{wx + x + 4}+{wy + y + 4}",
                          "+repage", "txt:-"], capture_output=True, text=True).stdout
    count = 0
    for r, g, b in re.findall(r"\((\d+),(\d+),(\d+)", out):
        r, g, b = int(r), int(g), int(b)
        if max(r, g, b) - min(r, g, b) > 60:
            count += 1
    return count


def icons_shown(binary, work):
    program = gui.Program(binary)
    try:
        controls = program.controls()
        gui.wait_for(lambda: "_NET_WM_ICON(CARDINAL)" in gui.run("xprop", "-id", program.window),
                     timeout=5)
        window_icon = "Icon (16 x 16)" in gui.run("xprop", "-id", program.window, "_NET_WM_ICON")
        shot = os.path.join(work, os.path.basename(binary) + ".png")

        def look():
            # Until the first drawing has reached the screen, no button shows anything.
            subprocess.run(["import", "-window", "root", shot], check=True)
            shown = {name: coloured_pixels(program, controls[name], shot) > 10 for name in BUTTONS}
            return shown if shown["OpenFirst"] else None
        shown = gui.wait_for(look, timeout=5, step=0.2) or look()
        # The button without its picture is still a button.
        gui.click_control(program, controls["SwapButton"])
        swapped = gui.wait_for(
            lambda: controls["StatusLine"].text() == "Элементы поменяны местами", timeout=5)
        return shown, window_icon, bool(swapped)
    finally:
        program.kill()


def main():
    damaged, intact = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="listwise-icons-") as work:
        gui.check_equal(icons_shown(intact, work),
                        ({"OpenFirst": True, "PasteFirst": True, "SwapButton": True}, True, True),
                        "intact icons: shown per button, window icon, swap works")
        gui.check_equal(icons_shown(damaged, work),
                        ({"OpenFirst": True, "PasteFirst": True, "SwapButton": False}, True, True),
                        "damaged swap icon: shown per button, window icon, swap works")
    gui.finish()


if __name__ == "__main__":
    main()
