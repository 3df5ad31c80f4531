"""The layout follows the window's width, under a window manager that enforces the size limits.
Usage (inside xvfb_session.sh --wm): window_resize_test.py path/to/listwise [screenshot.png]"""

import sys

import listwise_gui as gui

FIXED = ["LabelFirst", "LabelSecond", "CaseCheck", "WholeSeparatorCheck", "TrimCheck",
         "FoldYoCheck", "SwapButton"]


def expected_layout(w):
    """name -> (x, y, width, height) at window width w."""
    half = w // 2 - 10
    return {
        "LabelFirst": (12, 13, 17, 28),
        "LabelSecond": (12, 68, 17, 28),
        "LabelReadSeparator": (10, 133, half, 28),
        "LabelResultSeparator": (10, 163, half, 28),
        "FieldFirst": (45, 10, w - 132, 33),
        "FieldSecond": (45, 60, w - 132, 33),
        "OpenFirst": (w - 84, 10, 36, 33),
        "OpenSecond": (w - 84, 60, 36, 33),
        "PasteFirst": (w - 44, 10, 36, 33),
        "PasteSecond": (w - 44, 60, 36, 33),
        "ModeBox": (20, 99, w - 30, 28),
        "ReadSeparatorBox": (half + 10, 130, half, 28),
        "ResultSeparatorBox": (half + 10, 160, half, 28),
        "CaseCheck": (45, 190, 190, 23),
        "WholeSeparatorCheck": (45, 213, 270, 23),
        "TrimCheck": (240, 190, 175, 23),
        "FoldYoCheck": (330, 213, 85, 23),
        "SwapButton": (3, 33, 36, 36),
        "StartButton": (w - 100, 205, 90, 43),
        "StatusLine": (5, 242, w - 110, 23),
    }


def layout_of(program):
    return {name: c.rect() for name, c in program.controls().items()}


def resize(program, width, height):
    gui.run("xdotool", "windowsize", program.window, str(width), str(height))


def settle(program, wanted_size):
    """Waits until the window has the size and the layout has followed it."""
    ok = gui.wait_for(lambda: program.geometry()[2:] == wanted_size, timeout=5)
    gui.check(ok, f"window reached {wanted_size}, is {program.geometry()[2:]}")
    want = expected_layout(wanted_size[0])
    gui.wait_for(lambda: layout_of(program) == want, timeout=5)
    return layout_of(program)


def compare(actual, expected, what):
    for name, rect in expected.items():
        gui.check_equal(actual.get(name), rect, f"{what}: {name}")


def main():
    binary = sys.argv[1]
    shot = sys.argv[2] if len(sys.argv) > 2 else "/tmp/listwise-700.png"
    program = gui.Program(binary, ["/tmp/первый список.txt", "/tmp/second.txt"])
    try:
        gui.check(gui.wait_for(lambda: gui.run("wmctrl", "-l").find("Listwise") >= 0),
                  "the window manager manages the window")
        compare(layout_of(program), expected_layout(520), "at 520")

        resize(program, 700, 265)
        at700 = settle(program, (700, 265))
        compare(at700, expected_layout(700), "at 700")
        # The numbers a person checks against: fields 568 wide, open buttons at 616, paste
        # buttons at 656, StartButton at 600, ModeBox 670 wide, separator boxes at 350, 340 wide.
        gui.check_equal(at700["FieldFirst"][2], 568, "field width at 700")
        gui.check_equal(at700["ReadSeparatorBox"][0:3:2], (350, 340), "separator box at 700")
        program.screenshot(shot)
        print("screenshot:", shot)

        resize(program, 701, 265)
        at701 = settle(program, (701, 265))
        compare(at701, expected_layout(701), "at 701")
        gui.check_equal(at701["ReadSeparatorBox"], at700["ReadSeparatorBox"],
                        "701 keeps HalfWidth of 700")

        resize(program, 701, 400)
        gui.wait_for(lambda: program.geometry()[2:] == (701, 400), timeout=5)
        gui.check_equal(program.geometry()[2:], (701, 400), "height alone changed")
        compare(layout_of(program), at701, "after a change of height alone")

        # Smaller than the start is refused by the window manager, the hints being 520 × 265.
        resize(program, 300, 200)
        gui.wait_for(lambda: program.geometry()[2:] == (520, 265), timeout=5)
        gui.check_equal(program.geometry()[2:], (520, 265), "cannot shrink below 520 × 265")
        compare(settle(program, (520, 265)), expected_layout(520), "back at 520")
        resize(program, 519, 600)
        gui.wait_for(lambda: program.geometry()[2] == 520 and program.geometry()[3] == 600)
        gui.check_equal(program.geometry()[2:], (520, 600), "width stays at least 520")

        # Maximised, the layout follows the full width.
        gui.run("wmctrl", "-r", "Listwise", "-b", "add,maximized_vert,maximized_horz")
        gui.wait_for(lambda: program.geometry()[2] > 700, timeout=5)
        width = program.geometry()[2]
        gui.check(width > 700, f"maximised, width {width}")
        gui.wait_for(lambda: layout_of(program) == expected_layout(width), timeout=5)
        compare(layout_of(program), expected_layout(width), f"maximised at {width}")
        program.screenshot(shot.replace(".png", "-maximised.png"))
    finally:
        program.kill()
    gui.finish()


if __name__ == "__main__":
    main()
