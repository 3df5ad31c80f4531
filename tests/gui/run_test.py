"""Runs from the window as a person makes them: each operation with "Старт" writes the result
file, reports in the status line, unlocks the controls and starts the viewer once; each input
error is shown in the status line and in a box titled "Ошибка" and changes nothing else; many
runs leave no defunct children behind.
Usage (inside xvfb_session.sh --wm): run_test.py path/to/listwise path/to/viewer_log [shot dir]"""

import os
import pwd
import re
import shutil
import socket
import sys
import time

import listwise_gui as gui

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import reference_model  # noqa: E402

RESULT = "/tmp/~ListwiseData.txt"
LOCKED = ["StartButton", "ModeBox", "OpenFirst", "OpenSecond", "PasteFirst", "PasteSecond"]
STATUS = re.compile(r"^Найдено (\d+) за (\d+) мсек$")

FIRST = "яблоко\r\nгруша\r\nСлива\r\nгруша\r\nслива\r\n"
SECOND = "груша\r\nперсик\r\nслива\r\nПерсик\r\n"


class Session:
    """The program started in a scratch directory with a viewer of the test's own first on PATH."""

    def __init__(self, binary, viewer):
        self.dir, self.log, env = gui.viewer_sandbox(viewer, "listwise-run-")
        self.files = os.path.join(self.dir, "files")
        os.mkdir(self.files)
        self.program = gui.Program(binary, [], env=env)
        self.c = self.program.controls()

    def write(self, name, data):
        path = os.path.join(self.files, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def launches(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return f.read().splitlines()

    def start_and_wait_for_viewer(self, what):
        """Clicks "Старт"; returns the viewer starts that this run made."""
        before = len(self.launches())
        gui.click_control(self.program, self.c["StartButton"])
        gui.check(gui.wait_for(lambda: len(self.launches()) > before, timeout=10),
                  f"{what}: the viewer was started")
        time.sleep(0.3)  # a second start would show by now
        return self.launches()[before:]

    def close(self):
        self.program.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def check_operations(s, shots):
    first = s.write("first.txt", FIRST.encode())
    second = s.write("second.txt", b"\xff\xfe" + SECOND.encode("utf-16-le"))
    gui.type_into(s.program, s.c["FieldFirst"], first)
    gui.type_into(s.program, s.c["FieldSecond"], second)
    # mode, case check on, whole-separator check on
    cases = [(0, True, False), (1, True, False), (2, True, False), (3, False, False),
             (4, True, True)]
    case_on, whole_on = True, False
    for mode, case_flag, whole in cases:
        what = f"operation {mode}"
        gui.choose_item(s.program, s.c["ModeBox"], mode)
        if case_flag != case_on:
            gui.click_control(s.program, s.c["CaseCheck"])
            case_on = case_flag
        if whole != whole_on:
            gui.click_control(s.program, s.c["WholeSeparatorCheck"])
            whole_on = whole
        gui.check_equal(("checked" in s.c["CaseCheck"].states(),
                         "checked" in s.c["WholeSeparatorCheck"].states()),
                        (case_flag, whole), f"{what}: check boxes")
        launched = s.start_and_wait_for_viewer(what)
        expected, count = reference_model.run(mode, FIRST.encode(),
                                              b"\xff\xfe" + SECOND.encode("utf-16-le"),
                                              "\\r\\n", "\\r\\n", whole, int(case_flag))
        with open(RESULT, "rb") as f:
            gui.check_equal(f.read(), expected, f"{what}: result file")
        status = STATUS.match(s.c["StatusLine"].text())
        if gui.check(status, f"{what}: status {s.c['StatusLine'].text()!r}"):
            gui.check_equal(int(status.group(1)), count, f"{what}: count in the status line")
        gui.check_equal(launched, ["xdg-open\t" + RESULT], f"{what}: viewer starts")
        for name in LOCKED:
            gui.check(gui.is_sensitive(s.c[name]), f"{what}: {name} unlocked")
    if shots:
        s.program.screenshot(os.path.join(shots, "run-finished.png"))
    # Back to the start's settings for the cases that follow.
    gui.choose_item(s.program, s.c["ModeBox"], 0)
    gui.click_control(s.program, s.c["WholeSeparatorCheck"])


def error_box():
    out = gui.run("xdotool", "search", "--onlyvisible", "--name", "^Ошибка$").split()
    return out[0] if out else None


def ok_button(s):
    """The one button of the program's box, found on the accessibility bus."""
    def find(node, depth):
        if node.get_role() == gui.Atspi.Role.PUSH_BUTTON:
            return node
        for i in range(node.get_child_count() if depth < 8 else 0):
            found = find(node.get_child_at_index(i), depth + 1)
            if found:
                return found
        return None
    for i in range(s.program.app.get_child_count()):
        window = s.program.app.get_child_at_index(i)
        if window.get_role() == gui.Atspi.Role.ALERT:
            return find(window, 0)
    return None


def close_box(s, box, how):
    gui.run("xdotool", "windowactivate", "--sync", box)
    time.sleep(0.2)
    if how == "OK":
        button = ok_button(s)
        if gui.check(button, "the box has a button"):
            e = button.get_extents(gui.Atspi.CoordType.SCREEN)
            gui.click_at(e.x + e.width // 2, e.y + e.height // 2)
    elif how == "Escape":
        gui.run("xdotool", "key", "Escape")
    else:
        # The window manager's close button: the right end of the title bar.
        geometry = gui.run("xwininfo", "-id", box)
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", geometry).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", geometry).group(1))
        w = int(re.search(r"Width:\s+(\d+)", geometry).group(1))
        gui.click_at(x + w - 10, y - 10)


def check_input_errors(s, shots):
    directory = os.path.join(s.files, "folder")
    os.mkdir(directory)
    # Root may read any file; a socket has a name and a size but cannot be opened as a stream.
    unopenable = os.path.join(s.files, "socket")
    holder = socket.socket(socket.AF_UNIX)
    holder.bind(unopenable)
    real = s.write("real.txt", b"a\nb\n")
    # what, first, second, operation, read separator, message
    cases = [
        ("no separator", "", "", 0, "", "Отсутствует разделитель"),
        ("no first list", "", real, 0, "\\n", "Отсутствует список"),
        ("no second list", real, "", 1, "\\n", "Отсутствует список"),
        ("a directory", directory, real, 0, "\\n", "Это папка, а не файл"),
        ("a missing second file", real, real + ".gone", 4, "\\n", "Файл не существует"),
        # From here on the second field is greyed and keeps its text.
        ("same file", real, real, 2, "\\n", "один и тот же файл в поле ввода"),
        ("a socket", unopenable, real, 3, "\\n", "Файл не удаётся открыть"),
    ]
    closings = ["OK", "Escape", "close button"]
    with open(RESULT, "rb") as f:
        earlier = f.read()
    earlier_stat = os.stat(RESULT)
    for i, (what, first, second, mode, separator, message) in enumerate(cases):
        how = closings[i % len(closings)]
        # The fields first: operations 2 and 3 grey out the second one.
        gui.type_into(s.program, s.c["FieldFirst"], first)
        gui.type_into(s.program, s.c["FieldSecond"], second)
        gui.type_into(s.program, s.c["ReadSeparatorBox"], separator)
        gui.choose_item(s.program, s.c["ModeBox"], mode)
        before = len(s.launches())
        gui.click_control(s.program, s.c["StartButton"])
        box = gui.wait_for(error_box, timeout=10)
        if not gui.check(box, f"{what}: a box titled Ошибка"):
            continue
        gui.check_equal(s.c["StatusLine"].text(), message, f"{what}: status line")
        shown = gui.run("xdotool", "getwindowname", box).strip()
        gui.check_equal(shown, "Ошибка", f"{what}: box title")
        for name in LOCKED:
            gui.check(gui.is_sensitive(s.c[name]), f"{what}: {name} not locked")
        if i == 0 and shots:
            time.sleep(0.3)
            gui.run("import", "-window", "root", os.path.join(shots, "run-error-box.png"))
        close_box(s, box, how)
        gui.check(gui.wait_for(lambda: not error_box(), timeout=10),
                  f"{what}: the box closed with {how}")
        gui.check_equal(s.c["StatusLine"].text(), message, f"{what}: status line after the box")
        time.sleep(0.2)
        gui.check_equal(len(s.launches()), before, f"{what}: no viewer")
        with open(RESULT, "rb") as f:
            gui.check(f.read() == earlier, f"{what}: the earlier result file is unchanged")
        gui.check_equal(os.stat(RESULT).st_mtime_ns, earlier_stat.st_mtime_ns,
                        f"{what}: the result file was not written")
    holder.close()
    gui.type_into(s.program, s.c["ReadSeparatorBox"], "\\r\\n")
    gui.choose_item(s.program, s.c["ModeBox"], 0)


def check_unwritable_result(s, shots):
    """A directory in the result file's place: the result goes to the user's own file beside it,
    which the status line names and the viewer opens; with that one blocked too, the run says
    so and starts no viewer."""
    first = s.write("u1.txt", b"a\n")
    second = s.write("u2.txt", b"b\n")
    gui.type_into(s.program, s.c["FieldFirst"], first)
    gui.type_into(s.program, s.c["FieldSecond"], second)
    personal = f"/tmp/~ListwiseData-{pwd.getpwuid(os.geteuid()).pw_name}.txt"
    aside = RESULT + ".listwise-test-aside"
    os.replace(RESULT, aside)
    os.mkdir(RESULT)
    try:
        launched = s.start_and_wait_for_viewer("result beside a blocked one")
        gui.check_equal(launched, ["xdg-open\t" + personal], "the viewer opens it")
        wanted = re.compile(r"^Найдено 1 за \d+ мсек; записано в " + re.escape(personal) + "$")
        gui.check(wanted.match(s.c["StatusLine"].text()),
                  f"result beside a blocked one: status {s.c['StatusLine'].text()!r}")
        with open(personal, "rb") as f:
            gui.check_equal(f.read(), b"\xef\xbb\xbfb", "the result beside the blocked one")
        if shots:
            s.program.screenshot(os.path.join(shots, "run-result-beside.png"))

        os.unlink(personal)
        os.mkdir(personal)
        before = len(s.launches())
        gui.click_control(s.program, s.c["StartButton"])
        wanted = re.compile(r"^Найдено 1 за \d+ мсек; не удалось записать " + re.escape(personal))
        gui.check(gui.wait_for(lambda: wanted.match(s.c["StatusLine"].text()), timeout=10),
                  f"unwritable result: status {s.c['StatusLine'].text()!r}")
        box = gui.wait_for(error_box, timeout=30)
        if gui.check(box, "unwritable result: a box titled Ошибка"):
            close_box(s, box, "OK")
            gui.check(gui.wait_for(lambda: not error_box(), timeout=30),
                      "unwritable result: the box closed")
        gui.check_equal(len(s.launches()), before, "unwritable result: no viewer")
        for name in LOCKED:
            gui.check(gui.is_sensitive(s.c[name]), f"unwritable result: {name} unlocked")
    finally:
        if os.path.isdir(personal):
            os.rmdir(personal)
        os.rmdir(RESULT)
        os.replace(aside, RESULT)


def check_enter_starts_a_run(s):
    """Enter in a field or a separator box runs as a click on "Старт" does; the status line
    tells a screen reader each new message as a change of its name."""
    announced = []

    def on_name(event):
        if event.source.get_role() == gui.Atspi.Role.STATUS_BAR:
            announced.append(event.source.get_name())
    listener = gui.Atspi.EventListener.new(on_name)
    listener.register("object:property-change:accessible-name")
    first_data, second_data = b"a\nb\n", b"b\nc\r\nd"
    gui.type_into(s.program, s.c["FieldFirst"], s.write("enter1.txt", first_data))
    # what, control typed into before Enter, its text, the read separator of the run
    cases = [("Enter in the second field", "FieldSecond", s.write("enter2.txt", second_data),
              "\\r\\n"),
             ("Enter in the read separator box", "ReadSeparatorBox", ";", ";")]
    for what, control, text, separator in cases:
        gui.type_into(s.program, s.c[control], text)
        before = len(s.launches())
        gui.run("xdotool", "key", "Return")
        gui.check(gui.wait_for(lambda: len(s.launches()) > before, timeout=10),
                  f"{what}: the viewer was started")
        gui.pump_events(0.3)  # a second start would show by now
        gui.check_equal(s.launches()[before:], ["xdg-open\t" + RESULT], f"{what}: viewer starts")
        expected, count = reference_model.run(0, first_data, second_data, separator, "\\r\\n",
                                              False, 1)
        with open(RESULT, "rb") as f:
            gui.check_equal(f.read(), expected, f"{what}: result file")
        status = s.c["StatusLine"].text()
        gui.check_equal(STATUS.match(status).group(1), str(count),
                        f"{what}: count in the status line")
        gui.check_equal(announced[-1:], [status], f"{what}: the status line announced")
        announced.clear()
    listener.deregister("object:property-change:accessible-name")
    gui.type_into(s.program, s.c["ReadSeparatorBox"], "\\r\\n")


def check_many_runs(s, runs):
    first = s.write("many1.txt", b"".join(b"%d\n" % i for i in range(2000)))
    second = s.write("many2.txt", b"".join(b"%d\n" % i for i in range(1000, 3000)))
    gui.type_into(s.program, s.c["FieldFirst"], first)
    gui.type_into(s.program, s.c["FieldSecond"], second)
    before = len(s.launches())
    began = time.time()
    for i in range(runs):
        count = len(s.launches())
        gui.click_control(s.program, s.c["StartButton"])
        if not gui.check(gui.wait_for(lambda: len(s.launches()) > count, timeout=10),
                         f"run {i + 1} of {runs} started the viewer"):
            break
    elapsed = time.time() - began
    time.sleep(0.5)
    gui.check_equal(len(s.launches()) - before, runs, f"viewer starts after {runs} runs")
    gui.check_equal(s.c["StatusLine"].text().split(" за ")[0], "Найдено 1000",
                    "status after the runs")
    gui.check_equal(gui.defunct_children(s.program.process.pid), [],
                    f"defunct children after {runs} runs")
    print(f"{runs} runs from the window, click to viewer start: {elapsed:.1f} s", flush=True)


def main():
    binary, viewer = sys.argv[1], sys.argv[2]
    shots = sys.argv[3] if len(sys.argv) > 3 else ""
    if shots:
        os.makedirs(shots, exist_ok=True)
    s = Session(binary, viewer)
    try:
        check_operations(s, shots)
        check_input_errors(s, shots)
        check_unwritable_result(s, shots)
        check_enter_starts_a_run(s)
        check_many_runs(s, 50)
    finally:
        s.close()
    gui.finish()


if __name__ == "__main__":
    main()
