"""The window as it starts: its place, its decorations and limits, and every control's
position, size, text, tooltip and state, read from outside the process.
Usage: window_controls_test.py path/to/listwise [screenshot.png]"""

import re
import sys

import listwise_gui as gui

OPEN = "Открыть файл"
PASTE = "Вставить из буфера обмена"

# name: (role, x, y, width, height, text, tooltip)
TABLE = {
    "LabelFirst": ("label", 12, 13, 17, 28, "1", ""),
    "LabelSecond": ("label", 12, 68, 17, 28, "2", ""),
    "LabelReadSeparator": ("label", 10, 133, 250, 28, "Разделитель при чтении", ""),
    "LabelResultSeparator": ("label", 10, 163, 250, 28, "Разделитель в результатах", ""),
    "FieldFirst": ("text", 45, 10, 388, 33, "", ""),
    "FieldSecond": ("text", 45, 60, 388, 33, "", ""),
    # The image buttons show no text; their names are checked with what is spoken.
    "OpenFirst": ("push button", 436, 10, 36, 33, None, OPEN),
    "OpenSecond": ("push button", 436, 60, 36, 33, None, OPEN),
    "PasteFirst": ("push button", 476, 10, 36, 33, None, PASTE),
    "PasteSecond": ("push button", 476, 60, 36, 33, None, PASTE),
    "ModeBox": ("combo box", 20, 99, 490, 28,
                "Уникальные строки 2-го файла, которых нет в первом", ""),
    "ReadSeparatorBox": ("combo box", 260, 130, 250, 28, "\\r\\n", ""),
    "ResultSeparatorBox": ("combo box", 260, 160, 250, 28, "\\r\\n", ""),
    "CaseCheck": ("check box", 45, 190, 190, 23, "Учитывать регистр", ""),
    "WholeSeparatorCheck": ("check box", 45, 213, 270, 23, "Вся строка как один разделитель", ""),
    # The bus gives these two their whole names (checked with what is spoken), not the short
    # labels drawn beside them.
    "TrimCheck": ("check box", 240, 190, 175, 23, None,
                  "Убирать пробелы в начале и в конце каждой строки"),
    "FoldYoCheck": ("check box", 330, 213, 85, 23, None,
                    "Буквы ё и е считаются одной буквой: «ёлка» = «елка»"),
    "SwapButton": ("push button", 3, 33, 36, 36, None, ""),
    "StartButton": ("push button", 420, 205, 90, 43, "Старт", ""),
    "StatusLine": ("status bar", 5, 242, 410, 23, None, None),  # both checked below
}

CHOICE_ITEMS = {
    "ModeBox": ["Уникальные строки 2-го файла, которых нет в первом",
                "Одинаковые строки в 2-х файлах",
                "Уникальные строки одного файла, удаляет повторы",
                "Подсчёт уникальных строк одного файла",
                "Объединить строки 2-х файлов",
                "Уникальные строки 1-го файла, которых нет во втором",
                "Все строки 2-х файлов без повторов",
                "Строки, которые есть только в одном из 2-х файлов",
                "Повторяющиеся строки одного файла"],
    "ReadSeparatorBox": ["\\r\\n", "\\n", "\\r\\n\\t\\f", "Введите ваш разделитель"],
    "ResultSeparatorBox": ["\\r\\n", "Введите ваш разделитель"],
}


# What a screen reader speaks for each control a person can reach, in the window's language:
# (role, name) of what takes the keyboard focus there. A choice box takes it in the button it
# is drawn as, an editable one in its entry or its list's button. The status line is read by
# its role; its name is its current text, checked above.
FOCUS_STOPS = [
    ("FieldFirst", "text", "Первый список"),
    ("FieldSecond", "text", "Второй список"),
    ("OpenFirst", "push button", "Открыть файл — первый список"),
    ("OpenSecond", "push button", "Открыть файл — второй список"),
    ("PasteFirst", "push button", "Вставить из буфера обмена — первый список"),
    ("PasteSecond", "push button", "Вставить из буфера обмена — второй список"),
    ("ModeBox", "toggle button", "Операция"),
    ("ReadSeparatorBox", "text", "Разделитель при чтении"),
    ("ReadSeparatorBox", "toggle button", "Разделитель при чтении"),
    ("ResultSeparatorBox", "text", "Разделитель в результатах"),
    ("ResultSeparatorBox", "toggle button", "Разделитель в результатах"),
    ("CaseCheck", "check box", "Учитывать регистр"),
    ("WholeSeparatorCheck", "check box", "Вся строка как один разделитель"),
    ("TrimCheck", "check box", "Обрезать пробелы по краям строк"),
    ("FoldYoCheck", "check box", "Считать ё как е"),
    ("SwapButton", "push button", "Поменять списки местами"),
    ("StartButton", "push button", "Старт"),
]
# The choice boxes as the tree shows them; the separator boxes are named by their labels.
BOXES = {"ModeBox": ("Операция", None),
         "ReadSeparatorBox": ("Разделитель при чтении", "LabelReadSeparator"),
         "ResultSeparatorBox": ("Разделитель в результатах", "LabelResultSeparator")}


def labels_of(node):
    return [r.get_target(i).get_name() for r in node.get_relation_set()
            if r.get_relation_type() == gui.Atspi.RelationType.LABELLED_BY
            for i in range(r.get_n_targets())]


def tab_through(program, controls, presses):
    """(role, name, description) of each control that Tab puts the focus on, in order."""
    stops = []

    def focused(event):
        if event.detail1 == 1:
            stop = (event.source.get_role_name(), event.source.get_name(),
                    event.source.get_description())
            if not stops or stops[-1] != stop:
                stops.append(stop)
    listener = gui.Atspi.EventListener.new(focused)
    listener.register("object:state-changed:focused")
    gui.click_control(program, controls["FieldFirst"])
    for _ in range(presses + 1):
        gui.pump_events(0.15)
        gui.run("xdotool", "key", "Tab")
    gui.pump_events(0.3)
    listener.deregister("object:state-changed:focused")
    return stops


def check_spoken_names(program, controls):
    stops = tab_through(program, controls, len(FOCUS_STOPS))
    for role, name, description in stops:
        print(f"spoken: {role}: {name}" + (f" ({description})" if description else ""), flush=True)
    spoken = [(role, name) for role, name, _ in stops]
    for control, role, name in FOCUS_STOPS:
        gui.check((role, name) in spoken, f"{control}: Tab reaches it, spoken as {role}: {name}")
    gui.check_equal(len(set(spoken)), len(FOCUS_STOPS), "focus stops tell themselves apart")
    mode_button = [d for role, name, d in stops if name == "Операция"]
    gui.check_equal(mode_button[:1], [TABLE["ModeBox"][5]], "ModeBox speaks its operation")
    for box, (name, label) in BOXES.items():
        c = controls[box]
        gui.check_equal(c.spoken(), ("combo box", name), f"{box} as the tree shows it")
        if label:
            for node in (c.inner, c.entry()):
                gui.check_equal(labels_of(node), [TABLE[label][5]],
                                f"{box} ({node.get_role_name()}) labelled by {label}")
    gui.check_equal(controls["StatusLine"].spoken()[0], "status bar", "StatusLine role")


def menu_items(control):
    for i in range(control.inner.get_child_count()):
        child = control.inner.get_child_at_index(i)
        if child.get_role_name() == "menu":
            return [child.get_child_at_index(k).get_name() for k in range(child.get_child_count())]
    return None


def overlaps(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def main():
    binary = sys.argv[1]
    shot = sys.argv[2] if len(sys.argv) > 2 else "/tmp/listwise-520.png"
    program = gui.Program(binary)
    try:
        screen = gui.run("xwininfo", "-root")
        sw = int(re.search(r"Width:\s+(\d+)", screen).group(1))
        sh = int(re.search(r"Height:\s+(\d+)", screen).group(1))
        x, y, w, h = program.geometry()
        gui.check_equal((w, h), (520, 265), "window size")
        gui.check_equal((x, y), (sw // 2 - 260, sh // 2 - 132), "window centred")
        gui.check_equal(gui.run("xdotool", "getwindowname", program.window).strip(), "Listwise",
                        "title")

        # The size limits reach the X server with GTK's first resize pass, which may come a
        # moment after the window is mapped.
        props = gui.wait_for(
            lambda: (lambda p: p if "program specified minimum size" in p and "_NET_WM_ICON" in p
                     else None)(gui.run("xprop", "-id", program.window)), timeout=5) or \
            gui.run("xprop", "-id", program.window)
        motif = re.search(r"_MOTIF_WM_HINTS\(_MOTIF_WM_HINTS\) = (.*)", props)
        if gui.check(motif, "motif hints set"):
            fields = [int(v.strip(), 0) for v in motif.group(1).split(",")]
            gui.check_equal((hex(fields[1]), hex(fields[2])), ("0x3e", "0x7e"),
                            "window functions and decorations")
        gui.check("program specified minimum size: 520 by 265" in props, "minimum size hint")
        gui.check("program specified maximum size: 32767 by 32767" in props, "maximum size hint")
        icon = re.search(r"_NET_WM_ICON\(CARDINAL\) =\s*Icon \((\d+) x (\d+)\)", props)
        if gui.check(icon, "window icon set"):
            gui.check_equal((int(icon.group(1)), int(icon.group(2))), (16, 16), "window icon size")

        controls = program.controls()
        for name, (role, cx, cy, cw, ch, text, tip) in TABLE.items():
            c = controls[name]
            gui.check_equal(c.role(), role, f"{name} role")
            gui.check_equal(c.rect(), (cx, cy, cw, ch), f"{name} position and size")
            if text is not None:
                gui.check_equal(c.text(), text, f"{name} text")
            if tip is not None:
                gui.check_equal(c.tooltip(), tip, f"{name} tooltip")
            gui.check("sensitive" in c.states(), f"{name} enabled")
        for name, items in CHOICE_ITEMS.items():
            gui.check_equal(menu_items(controls[name]), items, f"{name} items")
        gui.check("checked" in controls["CaseCheck"].states(), "CaseCheck checked")
        for name in ("WholeSeparatorCheck", "TrimCheck", "FoldYoCheck"):
            gui.check("checked" not in controls[name].states(), f"{name} unchecked")
        status = controls["StatusLine"].text()
        gui.check(re.search("[А-Яа-яЁё]", status) and "\n" not in status,
                  f"StatusLine shows one Russian line: {status!r}")
        gui.check_equal(controls["StatusLine"].tooltip(), status, "StatusLine tooltip")

        # What a person sees must match the table: every control's drawn box (its real
        # allocation, not only its request) stays inside its row, and only the swap button lies
        # over the labels "1" and "2".
        rects = {name: c.rect() for name, c in controls.items()}
        allowed = {frozenset(("SwapButton", "LabelFirst")), frozenset(("SwapButton", "LabelSecond")),
                   # The table's own rows touch here: the label's 28 px reach one pixel into
                   # the check box's row, where the label draws no text.
                   frozenset(("LabelResultSeparator", "CaseCheck")),
                   frozenset(("LabelResultSeparator", "TrimCheck"))}
        names = list(rects)
        for i, a in enumerate(names):
            for b in names[i + 1:]:
                if frozenset((a, b)) not in allowed:
                    gui.check(not overlaps(rects[a], rects[b]), f"{a} and {b} overlap")
        for name, c in controls.items():
            e = c.inner.get_extents(gui.Atspi.CoordType.WINDOW)
            ix, iy, iw, ih = e.x, e.y, e.width, e.height
            ox, oy, ow, oh = rects[name]
            gui.check(ix >= ox and iy >= oy and ix + iw <= ox + ow and iy + ih <= oy + oh,
                      f"{name} drawn inside its place: {(ix, iy, iw, ih)} in {rects[name]}")
            gui.check(ox + ow <= w and oy + oh <= h, f"{name} inside the window")

        # Hovering a button with a tooltip opens a tooltip window beside it (its text is the
        # description checked above); the swap button has none.
        for name, has_tip in (("OpenSecond", True), ("PasteFirst", True), ("SwapButton", False)):
            cx, cy, cw, ch = rects[name]
            gui.run("xdotool", "mousemove", str(x + cx + cw // 2 - 1), str(y + cy + ch // 2 - 1))
            gui.run("xdotool", "mousemove", str(x + cx + cw // 2), str(y + cy + ch // 2))
            shown = gui.wait_for(lambda: popup_windows(program), timeout=20 if has_tip else 1.5)
            gui.check(bool(shown) == has_tip, f"hovering {name}: tooltip shown {bool(shown)}")
            if name == "PasteFirst":
                program.screenshot(shot.replace(".png", "-tooltip.png"))
            gui.run("xdotool", "mousemove", "0", "0")
            gui.wait_for(lambda: not popup_windows(program), timeout=20)
        program.screenshot(shot)
        print("screenshot:", shot)
        # Last, as it moves the focus through the window.
        check_spoken_names(program, controls)
    finally:
        program.kill()
    gui.finish()


def popup_windows(program):
    """Visible windows of the program other than MainWindow: a tooltip, when one shows."""
    ids = gui.run("xdotool", "search", "--onlyvisible", "--pid", str(program.process.pid),
                  "--class", "listwise").split()
    return [i for i in ids if i != program.window]


if __name__ == "__main__":
    main()
