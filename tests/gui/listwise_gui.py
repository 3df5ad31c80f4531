"""Drives the real listwise program from outside, as a person would: X window geometry through
xwininfo/xprop/xdotool, the controls through the accessibility bus (AT-SPI).

Used by the *_test.py scripts here, which run inside xvfb_session.sh."""

import os
import shutil
import re
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The controls in the order the window builds them; the layout lists its children in that order.
CREATION_ORDER = [
    "LabelFirst", "LabelSecond", "FieldFirst", "FieldSecond", "OpenFirst", "OpenSecond",
    "PasteFirst", "PasteSecond", "ModeBox", "LabelReadSeparator", "ReadSeparatorBox",
    "LabelResultSeparator", "ResultSeparatorBox", "CaseCheck", "WholeSeparatorCheck",
    "TrimCheck", "FoldYoCheck", "SwapButton", "StartButton", "StatusLine",
]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)
    return condition


def check_equal(actual, expected, what):
    return check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


def finish():
    if failures:
        print(f"{len(failures)} check(s) failed", flush=True)
        sys.exit(1)
    print("all checks passed", flush=True)
    sys.exit(0)


def wait_for(predicate, timeout=10.0, step=0.05):
    end = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() > end:
            return value
        time.sleep(step)


def pump_events(seconds):
    """Lets the accessibility events that came in reach their listeners for a while."""
    context = GLib.MainContext.default()
    end = time.time() + seconds
    while time.time() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def run(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def defunct_children(pid):
    """Child processes of pid that have ended and were never reaped."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[1]) == pid and fields[0] == "Z":
            found.append(int(entry))
    return found


class Program:
    """One running listwise process with its window and its accessible tree."""

    def __init__(self, binary, args=(), env=None):
        self.process = subprocess.Popen([binary, *args], env=env)
        self.window = wait_for(self._find_window, timeout=20)
        if not self.window:
            self.kill()
            raise RuntimeError("the window did not appear")
        self.app = wait_for(self._find_app, timeout=20)
        if not self.app:
            self.kill()
            raise RuntimeError("the program did not appear on the accessibility bus")

    def _find_window(self):
        out = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid),
                  "--name", "^Listwise$")
        ids = out.split()
        return ids[0] if ids else None

    def _find_app(self):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app and app.get_process_id() == self.process.pid and app.get_child_count() > 0:
                    return app
            except gi.repository.GLib.Error:
                continue
        return None

    def frame(self):
        for i in range(self.app.get_child_count()):
            child = self.app.get_child_at_index(i)
            if child.get_role() == Atspi.Role.FRAME:
                return child
        raise RuntimeError("no frame")

    def layout(self):
        # frame > vertical box > layout
        return self.frame().get_child_at_index(0).get_child_at_index(0)

    def controls(self):
        """Name -> Control for every control of the window."""
        layout = self.layout()
        count = layout.get_child_count()
        check_equal(count, len(CREATION_ORDER), "children of the layout")
        return {name: Control(name, layout.get_child_at_index(i))
                for i, name in enumerate(CREATION_ORDER[:count])}

    def geometry(self):
        """(x, y, width, height) of the window's client area, from the X server."""
        out = run("xwininfo", "-id", self.window)
        values = {}
        for key, pattern in (("x", r"Absolute upper-left X:\s+(-?\d+)"),
                             ("y", r"Absolute upper-left Y:\s+(-?\d+)"),
                             ("width", r"Width:\s+(\d+)"), ("height", r"Height:\s+(\d+)")):
            values[key] = int(re.search(pattern, out).group(1))
        return values["x"], values["y"], values["width"], values["height"]

    def screenshot(self, path):
        x, y, w, h = self.geometry()
        full = path + ".root.png"
        subprocess.run(["import", "-window", "root", full], check=True)
        subprocess.run(["convert", full, "-crop", f"{w + 40}x{h + 60}+{max(x - 20, 0)}+{max(y - 40, 0)}",
                        "+repage", path], check=True)
        os.unlink(full)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None


class Control:
    """One control as the accessibility bus shows it."""

    def __init__(self, name, outer):
        self.name = name
        self.outer = outer
        self.inner = outer
        # Labels sit in a box and an event box; choice boxes in an event box.
        while self.inner.get_role() in (Atspi.Role.FILLER, Atspi.Role.PANEL) and \
                self.inner.get_child_count() == 1:
            self.inner = self.inner.get_child_at_index(0)

    def rect(self):
        e = self.outer.get_extents(Atspi.CoordType.WINDOW)
        return (e.x, e.y, e.width, e.height)

    def role(self):
        return self.inner.get_role_name()

    def states(self):
        return {s.value_nick for s in self.inner.get_state_set().get_states()}

    def tooltip(self):
        return self.inner.get_description()

    def entry(self):
        """The text child of an editable choice box, or the field itself."""
        if self.inner.get_role() == Atspi.Role.TEXT:
            return self.inner
        for i in range(self.inner.get_child_count()):
            child = self.inner.get_child_at_index(i)
            if child.get_role() == Atspi.Role.TEXT:
                return child
        return None

    def text(self):
        entry = self.entry()
        if entry is not None:
            return Atspi.Text.get_text(entry, 0, -1)
        if self.inner.get_role() == Atspi.Role.COMBO_BOX:
            # A choice box's name says what it is for; its text is the selected item.
            if Atspi.Selection.get_n_selected_children(self.inner) == 0:
                return ""
            return Atspi.Selection.get_selected_child(self.inner, 0).get_name()
        return self.inner.get_name()

    def spoken(self):
        """(role, name) as a screen reader speaks the control."""
        return self.inner.get_role_name(), self.inner.get_name()


# ---------------------------------------------------------------------------------------------
# Acting on the controls as a person would: the pointer and the keyboard through xdotool.

def viewer_sandbox(viewer, prefix):
    """A scratch directory with the test's own viewer first on PATH as xdg-open.

    Returns the directory, the viewer's log file and the environment to start the program in."""
    directory = tempfile.mkdtemp(prefix=prefix)
    bin_dir = os.path.join(directory, "bin")
    os.mkdir(bin_dir)
    shutil.copy(viewer, os.path.join(bin_dir, "xdg-open"))
    log = os.path.join(directory, "viewer.log")
    env = dict(os.environ, PATH=bin_dir + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
               LISTWISE_VIEWER_LOG=log, LC_ALL="C.UTF-8")
    return directory, log, env


def click_at(x, y):
    run("xdotool", "mousemove", str(x), str(y), "click", "1")


def click_control(program, control):
    """A left click in the middle of the control."""
    wx, wy, _, _ = program.geometry()
    cx, cy, cw, ch = control.rect()
    click_at(wx + cx + cw // 2, wy + cy + ch // 2)


def choose_item(program, control, index):
    """Opens a choice box's list with a click and clicks its item number `index`."""
    menu = None
    for i in range(control.inner.get_child_count()):
        child = control.inner.get_child_at_index(i)
        if child.get_role_name() == "menu":
            menu = child
    if not check(menu is not None, f"{control.name} has a list"):
        return
    item = menu.get_child_at_index(index)

    def showing():
        return "showing" in {s.value_nick for s in item.get_state_set().get_states()}
    if control.entry() is not None:
        # An editable box opens its list from the arrow at its right end; the rest is its entry.
        wx, wy, _, _ = program.geometry()
        cx, cy, cw, ch = control.rect()
        click_at(wx + cx + cw - 10, wy + cy + ch // 2)
    else:
        click_control(program, control)
    if not check(wait_for(showing, timeout=5), f"{control.name}: the list opened"):
        return
    time.sleep(0.2)
    e = item.get_extents(Atspi.CoordType.SCREEN)
    click_at(e.x + e.width // 2, e.y + e.height // 2)
    check(wait_for(lambda: not showing(), timeout=5), f"{control.name}: the list closed")


def type_into(program, control, text):
    """Clicks into the control's text, selects all of it and types `text` over it."""
    entry = control.entry()
    if not is_sensitive(control):
        # A greyed control takes no clicks: the keys would reach whatever has the focus.
        check_equal(control.text(), text, f"text of the greyed {control.name}")
        return
    wx, wy, _, _ = program.geometry()
    e = entry.get_extents(Atspi.CoordType.WINDOW)
    click_at(wx + e.x + e.width // 2, wy + e.y + e.height // 2)
    run("xdotool", "key", "ctrl+a", "BackSpace")
    if text:
        run("xdotool", "type", "--delay", "10", text)
    check(wait_for(lambda: control.text() == text, timeout=5),
          f"typed into {control.name}: {text!r}, it shows {control.text()!r}")


def is_sensitive(control):
    return "sensitive" in control.states()
