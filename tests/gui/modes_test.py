"""The operations that compare the two lists as sets (the first list's own items, all items
once, the items of one list only), the repeated items of one list, and the check boxes that
trim the items and fold ё into е, all driven from the window as a person drives them: the
operation chosen from its list, the boxes clicked, "Старт" pressed, the result read from the
file the viewer was started on.
The result must also be, byte for byte, what listwise-cli writes for the same lists and options.
Usage (inside xvfb_session.sh --wm):
  modes_test.py path/to/listwise path/to/viewer_log path/to/listwise-cli [shot dir]"""

import os
import subprocess
import sys

import listwise_gui as gui
from run_test import LOCKED, RESULT, STATUS, Session

# Whether the engine computes these operations and honours both check boxes. Without it a run
# finds nothing and the result file holds only its byte-order mark; the checks of the controls
# and of the runs themselves hold either way, the results only with it.
RESULTS_CHECKED = True

MODE_NAMES = {
    5: "Уникальные строки 1-го файла, которых нет во втором",
    6: "Все строки 2-х файлов без повторов",
    7: "Строки, которые есть только в одном из 2-х файлов",
    8: "Повторяющиеся строки одного файла",
}
CLI_MODES = {5: "only-in-first", 6: "union", 7: "symmetric", 8: "duplicates"}
NBSP = "\u00a0"
# "Иванов" and its copy with a no-break space after it are one item once trimmed; "Орёл" and
# "Орел" once ё is folded. "а" stands twice in the first list.
FIRST = f"Иванов{NBSP}\r\nОрёл\r\nа\r\nа"
SECOND = "Иванов\r\nОрел\r\nб"

# (operation, trim, fold ё, result items). Written out from what each operation means; the items
# stand in the order of the 512-slot table's walk, slots ascending, which for these items is
# а 48, б 49, Иванов+NBSP 69, Орёл 204, Иванов 283, Орел 488: no two share a slot, so the order
# does not depend on which item came first.
CASES = [
    # The first list's items that the second lacks, each once.
    (5, False, False, ["а", f"Иванов{NBSP}", "Орёл"]),
    (5, True, True, ["а"]),
    # Every item of either list, each once; trimmed, the two "Иванов" are one.
    (6, True, False, ["а", "б", "Орёл", "Иванов", "Орел"]),
    (6, False, False, ["а", "б", f"Иванов{NBSP}", "Орёл", "Иванов", "Орел"]),
    # The items that only one of the lists holds.
    (7, False, False, ["а", "б", f"Иванов{NBSP}", "Орёл", "Иванов", "Орел"]),
    (7, False, True, ["а", "б", f"Иванов{NBSP}", "Иванов"]),
    (7, True, True, ["а", "б"]),
    # The first list's repeated items, each once.
    (8, False, False, ["а"]),
]


def expected_file(items):
    return b"\xef\xbb\xbf" + "\r\n".join(items).encode("utf-8")


def is_checked(control):
    return "checked" in control.states()


def set_check(s, name, wanted):
    c = s.c[name]
    if is_checked(c) != wanted:
        gui.click_control(s.program, c)
    gui.check(gui.wait_for(lambda: is_checked(c) == wanted, timeout=5),
              f"{name} {'checked' if wanted else 'cleared'}")


def cli_result(cli, mode, trim, fold, first, second):
    args = [cli, CLI_MODES[mode], first] + ([second] if mode != 8 else [])
    args += ["--trim"] * trim + ["--fold-yo"] * fold
    done = subprocess.run(args, capture_output=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    return done.stdout if done.returncode == 0 else done.stderr


def check_runs(s, cli, shots):
    first = s.write("first.txt", FIRST.encode())
    second = s.write("second.txt", SECOND.encode())
    gui.type_into(s.program, s.c["FieldFirst"], first)
    gui.type_into(s.program, s.c["FieldSecond"], second)
    for mode, trim, fold, items in CASES:
        what = f"operation {mode}, trim {trim}, ё {fold}"
        gui.choose_item(s.program, s.c["ModeBox"], mode)
        gui.check_equal(s.c["ModeBox"].text(), MODE_NAMES[mode], f"{what}: chosen")
        gui.check_equal(gui.is_sensitive(s.c["FieldSecond"]), mode != 8,
                        f"{what}: second field usable")
        set_check(s, "TrimCheck", trim)
        set_check(s, "FoldYoCheck", fold)
        launched = s.start_and_wait_for_viewer(what)
        if not gui.check_equal(launched, ["xdg-open\t" + RESULT], f"{what}: viewer starts"):
            continue
        status = STATUS.match(s.c["StatusLine"].text())
        gui.check(status, f"{what}: status {s.c['StatusLine'].text()!r}")
        for name in LOCKED:
            gui.check(gui.is_sensitive(s.c[name]), f"{what}: {name} unlocked")
        # The file the viewer was handed, read as it shows it.
        with open(launched[0].split("\t")[1], "rb") as f:
            shown = f.read()
        if RESULTS_CHECKED:
            gui.check_equal(shown, expected_file(items), f"{what}: result file")
            if status:
                gui.check_equal(int(status.group(1)), len(items), f"{what}: count")
            gui.check_equal(shown, cli_result(cli, mode, trim, fold, first, second),
                            f"{what}: as listwise-cli writes it")
        else:
            print(f"{what}: result {shown!r} not checked", flush=True)
        if shots and mode == 7 and trim and fold:
            s.program.screenshot(os.path.join(shots, "modes-run.png"))


def main():
    binary, viewer, cli = sys.argv[1], sys.argv[2], sys.argv[3]
    shots = sys.argv[4] if len(sys.argv) > 4 else ""
    if shots:
        os.makedirs(shots, exist_ok=True)
    s = Session(binary, viewer)
    try:
        check_runs(s, cli, shots)
    finally:
        s.close()
    gui.finish()


if __name__ == "__main__":
    main()
