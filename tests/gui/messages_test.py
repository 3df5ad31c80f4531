"""What a new user reads in the window: each error box names its list or field below its
message, a result that cannot be written opens a box with its path and the system's reason while
the count stays in the status line, the status line's whole text is its tooltip and accessible
description, the file chooser speaks Russian and starts at the field's file, and a run tells how
to stop it and follows a resize.

The program runs in a mount namespace of its own whose /tmp is a tiny tmpfs (the session bus's
socket bound into it), so that its result cannot be written; that needs root in the session,
else the test is skipped. The run is held by the preloaded shim of tests/support/hold_io.c.
Usage (inside xvfb_session.sh --wm): messages_test.py path/to/listwise path/to/hold_io.so
[shot dir]"""

import errno
import locale
import os
import re
import shutil
import sys
import tempfile
import time

import listwise_gui as gui

Atspi = gui.Atspi
RESULT = "/tmp/~ListwiseData.txt"
HELD = re.compile(r"^(Чтение списка [12]: \d+ %|Обработка: \d+ %|Запись: \d+ %) · Esc — отмена$")
# The namespace's /tmp: room for small results, none for the large one.
TMP_SIZE = "128k"

NAMESPACE_SCRIPT = r"""
set -e
bus=$1; shift
[ -z "$bus" ] || mount --bind "$bus" "$SCRATCH/bus"
exec 9</tmp
mount -t tmpfs -o size=$TMP_SIZE,mode=1777 listwise-messages /tmp
# A checkout under /tmp: the test's directory and the program's bound back where they were,
# through fd 9 (the /tmp beneath), with what is mounted inside them.
for p in "$SCRATCH" "$1"; do
  case "$p" in /tmp/?*)
    d=${p#/tmp/}; d=${d%%/*}
    [ -d "/tmp/$d" ] || { mkdir "/tmp/$d"; mount -c --rbind "/proc/self/fd/9/$d" "/tmp/$d"; } ;;
  esac
done
exec 9<&-
if [ -n "$bus" ]; then touch "$bus"; mount --bind "$SCRATCH/bus" "$bus"; fi
PATH=$PROGRAM_PATH exec "$@"
"""


def russian_locale():
    for name in ("ru_RU.UTF-8", "ru_RU.utf8"):
        try:
            locale.setlocale(locale.LC_ALL, name)
            return name
        except locale.Error:
            continue
    return None


class Session:
    def __init__(self, binary):
        # Everything of the test's own lies outside the program's /tmp (a checkout under /tmp is
        # bound into it).
        self.dir = tempfile.mkdtemp(prefix="listwise-messages-", dir=os.getcwd())
        open(os.path.join(self.dir, "bus"), "w").close()
        self.lists = os.path.join(self.dir, "lists")
        os.mkdir(self.lists)
        # No viewer: every place it could be found is empty.
        empty_bin = os.path.join(self.dir, "bin")
        os.mkdir(empty_bin)
        lang = russian_locale() or "C.UTF-8"
        bus = re.match(r"unix:path=(/tmp/[^,]+)", os.environ.get("DBUS_SESSION_BUS_ADDRESS", ""))
        env = dict(os.environ, PROGRAM_PATH=empty_bin, LC_ALL=lang, SCRATCH=self.dir,
                   TMP_SIZE=TMP_SIZE)
        self.program = gui.Program(
            shutil.which("unshare"),
            ["--mount", "--propagation", "private", "/bin/sh", "-c", NAMESPACE_SCRIPT, "sh",
             bus.group(1) if bus else "", binary], env=env)
        self.c = self.program.controls()

    def write(self, name, data):
        path = os.path.join(self.lists, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def close(self):
        self.program.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def find(node, role, depth=0):
    """Every node of the role below node."""
    found = [node] if node.get_role() == role else []
    for i in range(node.get_child_count() if depth < 12 else 0):
        child = node.get_child_at_index(i)
        if child is not None:
            found += find(child, role, depth + 1)
    return found


def top_windows(s, role):
    return [w for w in (s.program.app.get_child_at_index(i)
                        for i in range(s.program.app.get_child_count()))
            if w is not None and w.get_role() == role]


def error_box(s):
    boxes = top_windows(s, Atspi.Role.ALERT)
    return boxes[0] if boxes else None


def check_lines(texts, lines, what):
    """The box shows the lines, one after the other."""
    n = len(lines)
    gui.check(any(texts[i:i + n] == lines for i in range(len(texts))),
              f"{what}: the box shows {lines}, it shows {texts}")


def press(button):
    Atspi.Action.do_action(button, 0)


def start_and_read_box(s, what):
    """Clicks "Старт", waits for the box and returns it with its texts."""
    gui.click_control(s.program, s.c["StartButton"])
    box = gui.wait_for(lambda: error_box(s), timeout=20)
    if not gui.check(box, f"{what}: a box"):
        return None, []
    texts = [label.get_name() for label in find(box, Atspi.Role.LABEL) if label.get_name()]
    return box, texts


def close_box(s, box, what):
    buttons = find(box, Atspi.Role.PUSH_BUTTON)
    if gui.check(buttons, f"{what}: the box has a button"):
        press(buttons[0])
    gui.check(gui.wait_for(lambda: error_box(s) is None, timeout=10), f"{what}: the box closed")


def check_error_boxes(s, shots):
    real = s.write("real.txt", b"a\nb\n")
    missing = os.path.join(s.lists, "clients.csv")
    folder = os.path.join(s.lists, "folder")
    os.mkdir(folder)
    # what, first field, second field, read separator, message, the line below it
    cases = [
        ("missing first", missing, real, "\\n", "Файл не существует", f"Список 1: {missing}"),
        ("folder second", real, folder, "\\n", "Это папка, а не файл", f"Список 2: {folder}"),
        ("no separator", real, real, "", "Отсутствует разделитель",
         "Разделитель при чтении: поле пусто"),
    ]
    for what, first, second, separator, message, detail in cases:
        gui.type_into(s.program, s.c["FieldFirst"], first)
        gui.type_into(s.program, s.c["FieldSecond"], second)
        gui.type_into(s.program, s.c["ReadSeparatorBox"], separator)
        box, texts = start_and_read_box(s, what)
        if box is None:
            continue
        check_lines(texts, [message, detail], what)
        gui.check_equal(s.c["StatusLine"].text(), message, f"{what}: the status line")
        if shots and what == "missing first":
            time.sleep(0.3)
            gui.run("import", "-window", "root", os.path.join(shots, "messages-error-box.png"))
        close_box(s, box, what)
    gui.type_into(s.program, s.c["ReadSeparatorBox"], "\\r\\n")


def check_status_tooltip(s):
    """Both lists with a notice: the short form, and the whole text in the description."""
    first = s.write("cp1.txt", "Привет\r\nМосква\r\n".encode("cp1251"))
    second = s.write("cp2.txt", "Москва\r\nЁлка\r\n".encode("cp1251"))
    gui.type_into(s.program, s.c["FieldFirst"], first)
    gui.type_into(s.program, s.c["FieldSecond"], second)
    wanted = re.compile(r"^Найдено 1 за \d+ мсек; файлы: 1 Windows-1251, 2 Windows-1251$")
    gui.click_control(s.program, s.c["StartButton"])
    status = s.c["StatusLine"]
    gui.check(gui.wait_for(lambda: wanted.match(status.text()), timeout=20),
              f"both lists' notices: status {status.text()!r}")
    gui.check_equal(status.tooltip(), status.text(), "the status line's description")


def check_unwritable_result(s, shots):
    """A result larger than the room left: a box with the path and the reason, the count in the
    status line, whose tooltip and description hold the whole text."""
    big = s.write("big.txt", b"".join(b"item%06d\r\n" % i for i in range(40000)))
    gui.type_into(s.program, s.c["FieldFirst"], big)
    gui.choose_item(s.program, s.c["ModeBox"], 2)
    box, texts = start_and_read_box(s, "unwritable result")
    if box is None:
        return
    if shots:
        time.sleep(0.3)
        gui.run("import", "-window", "root", os.path.join(shots, "messages-unwritable-box.png"))
    reason = os.strerror(errno.ENOSPC)  # in the program's language: the locale is set alike
    check_lines(texts, ["Не удалось записать результат", f"{RESULT}: {reason}"],
                "unwritable result")
    status = s.c["StatusLine"]
    gui.check(re.match(r"^Найдено 40000 за \d+ мсек; не удалось записать " + re.escape(RESULT)
                       + "$", status.text()), f"unwritable result: status {status.text()!r}")
    gui.check_equal(status.tooltip(), status.text(), "unwritable result: the description")
    close_box(s, box, "unwritable result")
    for name in ("StartButton", "ModeBox", "OpenFirst"):
        gui.check(gui.is_sensitive(s.c[name]), f"unwritable result: {name} unlocked")

    # The tooltip shows the whole text where the line is cut: a window of the program's own
    # comes up under the pointer. What it says is the description, set with it.
    pid = str(s.program.process.pid)
    before = set(gui.run("xdotool", "search", "--onlyvisible", "--pid", pid).split())
    wx, wy, _, _ = s.program.geometry()
    x, y, w, h = status.rect()
    gui.run("xdotool", "mousemove", str(wx + x + w // 2), str(wy + y + h // 2))
    gui.run("xdotool", "mousemove_relative", "--", "3", "0")
    tip = gui.wait_for(lambda: set(gui.run("xdotool", "search", "--onlyvisible", "--pid",
                                           pid).split()) - before, timeout=10)
    gui.check(tip, "the status line shows a tooltip")
    if shots and tip:
        time.sleep(0.3)
        gui.run("import", "-window", "root", os.path.join(shots, "messages-status-tooltip.png"))
    gui.run("xdotool", "mousemove", "0", "0")
    gui.choose_item(s.program, s.c["ModeBox"], 0)


def chooser(s):
    dialogs = [w for w in (s.program.app.get_child_at_index(i)
                           for i in range(s.program.app.get_child_count()))
               if w is not None and w.get_name() == "Открыть файл"]
    return dialogs[0] if dialogs else None


def named_buttons(dialog):
    return {b.get_name(): b for b in find(dialog, Atspi.Role.PUSH_BUTTON) if b.get_name()}


def selected_cells(dialog):
    """The texts of the selected row of the chooser's file list."""
    return [cell.get_name() for cell in find(dialog, Atspi.Role.TABLE_CELL)
            if "selected" in {st.value_nick for st in cell.get_state_set().get_states()}]


def check_file_chooser(s, shots):
    """Russian buttons, the text-file filter first, and a start at the field's own file, which
    "Открыть" then takes as it is; a file of another kind is shown under "Все файлы"."""
    csv = s.write("clients.csv", b"a\n")
    dat = s.write("export.dat", b"a\n")
    for i, (path, shown_filter) in enumerate(((csv, "Текстовые файлы"), (dat, "Все файлы"))):
        what = f"chooser at {os.path.basename(path)}"
        gui.type_into(s.program, s.c["FieldFirst"], path)
        gui.click_control(s.program, s.c["OpenFirst"])
        dialog = gui.wait_for(lambda: chooser(s), timeout=20)
        if not gui.check(dialog, f"{what}: the chooser opened"):
            continue
        buttons = gui.wait_for(lambda: (lambda b: b if "Открыть" in b else None)(
            named_buttons(dialog)), timeout=10) or {}
        gui.check("Открыть" in buttons and "Отмена" in buttons,
                  f"{what}: buttons {sorted(buttons)}")
        selected, offered = [], []
        for combo in find(dialog, Atspi.Role.COMBO_BOX):
            offered += [item.get_name() for item in find(combo, Atspi.Role.MENU_ITEM)]
            if Atspi.Selection.get_n_selected_children(combo) > 0:
                selected.append(Atspi.Selection.get_selected_child(combo, 0).get_name())
        gui.check("Текстовые файлы" in offered and "Все файлы" in offered,
                  f"{what}: filters {offered}")
        gui.check(shown_filter in selected, f"{what}: {shown_filter!r} shown, {selected}")
        if shots and i == 0:
            time.sleep(0.5)
            gui.run("import", "-window", "root", os.path.join(shots, "messages-file-chooser.png"))
        if "Открыть" in buttons:
            # The field's own file is selected once the folder is read: accepting gives it back.
            gui.check(gui.wait_for(lambda: os.path.basename(path) in selected_cells(dialog),
                                   timeout=20), f"{what}: selected {selected_cells(dialog)}")
            press(buttons["Открыть"])
        gui.check(gui.wait_for(lambda: chooser(s) is None, timeout=10), f"{what}: it closed")
        gui.check_equal(s.c["FieldFirst"].text(), path, f"{what}: the field after Открыть")


def check_held_run(binary, shim):
    """A run held in its writing by the preloaded shim: the status line tells how to stop it,
    and the controls follow a resize while it goes on; Escape then stops it."""
    lists = tempfile.mkdtemp(prefix="listwise-held-", dir=os.getcwd())
    gate = os.path.join(lists, "go-on")
    first = os.path.join(lists, "held1.txt")
    second = os.path.join(lists, "held2.txt")
    # Distinct lines, 38 MB a list; the result is all of the second. Written at 64 KB a call
    # with 20 ms before each, it takes 12 s at least, and the window answers between the calls.
    block = b"".join(b"@%09d\r\n" % (i * 7919 % 1_000_000_007) for i in range(1_000_000))
    for path, tag in ((first, b"a"), (second, b"b")):
        with open(path, "wb") as f:
            for k in range(2):
                f.write(block.replace(b"@", tag + b"%03d-" % k))
    os.mkdir(os.path.join(lists, "bin"))  # no viewer
    env = dict(os.environ, LC_ALL="C.UTF-8", PATH=os.path.join(lists, "bin"),
               LD_PRELOAD=shim, LISTWISE_HOLD_PATH="/tmp/~ListwiseData",
               LISTWISE_HOLD_WHAT="writes", LISTWISE_HOLD_GATE=gate)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    program = gui.Program(binary, [first, second], env=env)
    try:
        c = program.controls()
        status = c["StatusLine"]
        gui.click_control(program, c["StartButton"])
        gui.check(gui.wait_for(lambda: HELD.match(status.text()), timeout=120),
                  f"held run: the status line tells Escape, it shows {status.text()!r}")
        _, _, _, height = program.geometry()
        gui.run("xdotool", "windowsize", program.window, "760", str(height))
        # The layout's rule: "Старт" 100 px from the right edge, and the run still going on.
        gui.wait_for(lambda: c["StartButton"].rect()[0] == 660 or not HELD.match(status.text()),
                     timeout=30)
        gui.check(c["StartButton"].rect()[0] == 660 and HELD.match(status.text()),
                  f"held run: the controls followed the resize during the run, Старт at "
                  f"{c['StartButton'].rect()}, the status line {status.text()!r}")
        gui.run("xdotool", "key", "Escape")
        gui.check(gui.wait_for(lambda: status.text() == "Отменено", timeout=60),
                  f"held run: Escape stopped it, it shows {status.text()!r}")
    finally:
        open(gate, "w").close()
        program.kill()
        shutil.rmtree(lists, ignore_errors=True)


def main():
    binary, shim = sys.argv[1], sys.argv[2]
    shots = sys.argv[3] if len(sys.argv) > 3 else None
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("skipped: a mount namespace needs root")
        sys.exit(77)
    if shots:
        os.makedirs(shots, exist_ok=True)
    s = Session(binary)
    try:
        check_error_boxes(s, shots)
        check_status_tooltip(s)
        check_unwritable_result(s, shots)
        check_file_chooser(s, shots)
    finally:
        s.close()
    # One program at a time: a window is found by its title as well as by its process.
    check_held_run(binary, shim)
    gui.finish()


if __name__ == "__main__":
    main()
