"""How a person fills the two sources and the options: the paste buttons with a real clipboard,
the swap button, drags of files from another process, the open buttons' chooser, the greying of
the second field by the operation and the separator boxes' own item; then the copy that outlives
the program through a clipboard manager.
Usage (inside xvfb_session.sh --wm):
  sources_test.py listwise viewer_log uri_drag_source fake_clipboard_manager"""

import os
import pathlib
import select
import shutil
import subprocess
import sys
import time

import listwise_gui as gui

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import reference_model  # noqa: E402

RESULT = "/tmp/~ListwiseData.txt"


class Helper:
    """A helper process whose output lines the test waits for."""

    def __init__(self, args):
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.seen = []

    def wait_line(self, line, timeout=10):
        end = time.time() + timeout
        while line not in self.seen and time.time() < end:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if ready:
                got = self.process.stdout.readline()
                if not got:
                    break
                self.seen.append(got.strip())
        return line in self.seen

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()


class Session:
    def __init__(self, binary, viewer):
        self.dir, self.log, env = gui.viewer_sandbox(viewer, "listwise-sources-")
        # The chooser starts in the program's working directory.
        os.chdir(self.dir)
        self.program = gui.Program(binary, [], env=env)
        self.c = self.program.controls()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def click(self, name):
        gui.click_control(self.program, self.c[name])

    def text(self, name):
        return self.c[name].text()

    def wait_text(self, name, text, what):
        gui.check(gui.wait_for(lambda: self.text(name) == text, timeout=5),
                  f"{what}: {name} shows {self.text(name)!r}, expected {text!r}")

    def launches(self):
        if not os.path.exists(self.log):
            return 0
        with open(self.log, encoding="utf-8") as f:
            return len(f.read().splitlines())

    def start_run(self, what, expected):
        before = self.launches()
        self.click("StartButton")
        if gui.check(gui.wait_for(lambda: self.launches() > before, timeout=10),
                     f"{what}: the run completed"):
            with open(RESULT, "rb") as f:
                gui.check_equal(f.read(), expected, f"{what}: result file")

    def close(self):
        self.program.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def set_clipboard(data, target=None):
    args = ["xclip", "-selection", "clipboard"] + (["-t", target] if target else [])
    subprocess.run(args, input=data, check=True)
    # xclip leaves a child behind that owns the selection until the next owner takes it.
    want = data.decode() if target is None else ""
    if target is None:
        gui.wait_for(lambda: gui.run("xclip", "-o", "-selection", "clipboard") == want, timeout=5)


def expected(mode, first, second, read_sep="\\r\\n", result_sep="\\r\\n"):
    return reference_model.run(mode, first.encode(), second.encode(), read_sep, result_sep)[0]


def check_paste_and_swap(s):
    first_kept = "яблоко\r\nгруша\r\nслива"
    second_kept = "груша\r\nперсик\r\nяблоко\r\nвишня"
    set_clipboard(first_kept.encode())
    s.click("PasteFirst")
    s.wait_text("FieldFirst", "<1>", "first paste")
    set_clipboard(second_kept.encode())
    s.click("PasteSecond")
    s.wait_text("FieldSecond", "<1>", "paste into the second field")
    s.start_run("a run on two kept texts", expected(0, first_kept, second_kept))

    # A further paste counts up and replaces the kept text.
    set_clipboard(b"vishnya")
    s.click("PasteFirst")
    s.wait_text("FieldFirst", "<2>", "second paste")
    # The swap carries the markers with their kept texts; the counters stay.
    s.click("SwapButton")
    s.wait_text("FieldFirst", "<1>", "swap")
    s.wait_text("FieldSecond", "<2>", "swap")
    gui.check_equal(s.text("StatusLine"), "Элементы поменяны местами", "status after the swap")
    s.start_run("a run after the swap", expected(0, second_kept, "vishnya"))
    set_clipboard(b"q")
    s.click("PasteFirst")
    s.wait_text("FieldFirst", "<3>", "a paste after the swap")

    # A clipboard without text: the marker still counts up, the kept text is empty.
    set_clipboard(b"\x89PNG\r\n", target="image/png")
    s.click("PasteSecond")
    s.wait_text("FieldSecond", "<2>", "a paste of no text")
    s.start_run("a run on an empty kept text", expected(0, "q", ""))


def drag_onto(s, field, kind, items):
    """Drags `items` from a separate source process onto the field, as from a file manager."""
    source = Helper([s.drag_source, "1000", "600", kind, "copy", *items])
    try:
        if not gui.check(source.wait_line("ready"), "the drag source appeared"):
            return
        window = gui.wait_for(lambda: gui.run("xdotool", "search", "--onlyvisible", "--name",
                                              "^listwise-drag-source$").split(), timeout=5)
        geometry = dict(line.split("=") for line in gui.run(
            "xdotool", "getwindowgeometry", "--shell", window[0]).split())
        from_x = int(geometry["X"]) + 80
        from_y = int(geometry["Y"]) + 40
        wx, wy, _, _ = s.program.geometry()
        cx, cy, cw, ch = s.c[field].rect()
        to_x, to_y = wx + cx + cw // 2, wy + cy + ch // 2
        gui.run("xdotool", "mousemove", str(from_x), str(from_y), "sleep", "0.3", "mousedown", "1",
                "sleep", "0.2", "mousemove", str(from_x + 20), str(from_y + 10), "sleep", "0.2",
                "mousemove", str(to_x - 20), str(to_y), "sleep", "0.3",
                "mousemove", str(to_x), str(to_y), "sleep", "0.6", "mouseup", "1")
        gui.check(source.wait_line("dragged"), f"{field}: the drag ended")
        time.sleep(0.3)
    finally:
        source.stop()


def check_drops(s):
    os.mkdir(os.path.join(s.dir, "folder"))
    one = s.write("one.txt", b"1\n")
    three = [s.write(f"three-{i}.txt", b"3\n") for i in range(3)]
    empty = s.write("empty.txt", b"")
    cyrillic = s.write("Список 1.txt", "а\n".encode())
    uri = lambda path: pathlib.Path(path).as_uri()  # noqa: E731
    # what, field, kind, items, expected text
    cases = [
        ("one file", "FieldFirst", "uris", [uri(one)], one),
        ("three files", "FieldSecond", "uris", [uri(p) for p in three], three[0]),
        ("a directory", "FieldFirst", "uris", [uri(os.path.join(s.dir, "folder"))], ""),
        ("an empty file", "FieldFirst", "uris", [uri(empty)], empty),
        ("a Cyrillic name", "FieldSecond", "uris", [uri(cyrillic)], cyrillic),
        ("plain text", "FieldSecond", "text", ["dragged words"], cyrillic),
    ]
    for what, field, kind, items, text in cases:
        drag_onto(s, field, kind, items)
        s.wait_text(field, text, f"drop of {what}")


def chooser():
    out = gui.run("xdotool", "search", "--onlyvisible", "--name", "^Открыть файл$").split()
    return out[0] if out else None


def check_open_buttons(s):
    picked = s.write("pick.txt", b"p\n")
    before = s.text("FieldFirst")
    s.click("OpenFirst")
    box = gui.wait_for(chooser, timeout=10)
    if gui.check(box, "OpenFirst shows a chooser titled Открыть файл"):
        gui.run("xdotool", "windowactivate", "--sync", box)
        time.sleep(0.5)
        gui.run("xdotool", "key", "Escape")
        gui.check(gui.wait_for(lambda: not chooser(), timeout=10), "the chooser closed on Escape")
        time.sleep(0.2)
        gui.check_equal(s.text("FieldFirst"), before, "a cancelled chooser leaves the field")
    s.click("OpenSecond")
    box = gui.wait_for(chooser, timeout=10)
    if gui.check(box, "OpenSecond shows a chooser"):
        gui.run("xdotool", "windowactivate", "--sync", box)
        time.sleep(0.5)
        # A bare name is looked up in the folder the chooser shows: the working directory.
        gui.run("xdotool", "key", "ctrl+l", "sleep", "0.3", "type", "--delay", "80", "pick.txt")
        time.sleep(0.5)
        gui.run("xdotool", "key", "Return")
        gui.check(gui.wait_for(lambda: not chooser(), timeout=10), "the chooser closed on Return")
        s.wait_text("FieldSecond", picked, "a chosen file")


def check_mode_box(s):
    second = s.text("FieldSecond")
    # operation, second field usable
    for mode, usable in ((2, False), (4, True), (3, False), (1, True), (3, False)):
        gui.choose_item(s.program, s.c["ModeBox"], mode)
        gui.check(gui.wait_for(lambda: gui.is_sensitive(s.c["FieldSecond"]) == usable, timeout=3),
                  f"operation {mode}: FieldSecond usable {usable}")
        gui.check_equal(s.text("FieldSecond"), second,
                        f"operation {mode}: FieldSecond keeps its text")
    # The swap still reaches the greyed field, and leaves it greyed.
    first = s.text("FieldFirst")
    s.click("SwapButton")
    s.wait_text("FieldSecond", first, "a swap onto the greyed field")
    gui.check(not gui.is_sensitive(s.c["FieldSecond"]), "the swap leaves FieldSecond greyed")
    gui.choose_item(s.program, s.c["ModeBox"], 0)
    gui.check(gui.wait_for(lambda: gui.is_sensitive(s.c["FieldSecond"]), timeout=3),
              "operation 0: FieldSecond usable again")


def focused(control):
    return "focused" in {v.value_nick for v in control.entry().get_state_set().get_states()}


def check_separator_boxes(s):
    # A listed separator is simply taken.
    gui.choose_item(s.program, s.c["ReadSeparatorBox"], 1)
    s.wait_text("ReadSeparatorBox", "\\n", "the item \\n")
    # "Введите ваш разделитель" empties the box and puts the cursor there: typing goes straight in.
    for box, item, typed in (("ReadSeparatorBox", 3, ";"), ("ResultSeparatorBox", 1, ", ")):
        gui.choose_item(s.program, s.c[box], item)
        s.wait_text(box, "", f"{box}: its own separator chosen")
        gui.check(gui.wait_for(lambda: focused(s.c[box]), timeout=3), f"{box} has the focus")
        gui.run("xdotool", "type", "--delay", "20", typed)
        s.wait_text(box, typed, f"{box}: typed at once")
    first = "b;a;b;c;A"
    gui.type_into(s.program, s.c["FieldFirst"], s.write("items.txt", first.encode()))
    gui.choose_item(s.program, s.c["ModeBox"], 2)
    s.start_run("a run with typed separators", expected(2, first, "", ";", ", "))
    gui.choose_item(s.program, s.c["ModeBox"], 0)


def check_copy_outlives_the_program(s, manager_binary):
    manager = Helper([manager_binary])
    try:
        if not gui.check(manager.wait_line("ready"), "the clipboard manager started"):
            return
        words = "copied out of the field"
        gui.type_into(s.program, s.c["FieldFirst"], words)
        gui.run("xdotool", "key", "ctrl+a", "ctrl+c")
        time.sleep(0.3)
        gui.run("wmctrl", "-c", "Listwise")
        gui.check_equal(s.program.wait_exit(timeout=10), 0, "exit status")
        gui.check(manager.wait_line("saved"), "the manager took the clipboard over")
        gui.check_equal(gui.run("xclip", "-o", "-selection", "clipboard"), words,
                        "the clipboard after the program ended")
    finally:
        manager.stop()


def main():
    binary, viewer, drag_source, manager = sys.argv[1:5]
    s = Session(binary, viewer)
    s.drag_source = drag_source
    try:
        check_paste_and_swap(s)
        check_drops(s)
        check_open_buttons(s)
        check_mode_box(s)
        check_separator_boxes(s)
        check_copy_outlives_the_program(s, manager)
    finally:
        s.close()
    gui.finish()


if __name__ == "__main__":
    main()
