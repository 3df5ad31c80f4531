"""Command-line arguments reach the two input fields: the first two after GTK has taken its own
options, as they are, further ones ignored.
Usage (inside xvfb_session.sh): command_line_test.py path/to/listwise"""

import os
import sys

import listwise_gui as gui


def fields_after_start(binary, args):
    program = gui.Program(binary, args)
    try:
        controls = program.controls()
        return controls["FieldFirst"].text(), controls["FieldSecond"].text()
    finally:
        program.kill()


def main():
    binary = sys.argv[1]
    display = os.environ["DISPLAY"]
    cyrillic = "/tmp/Списки для сравнения/первый — ёлка.txt"
    cases = [
        ("no arguments", [], ("", "")),
        ("one argument", ["one.txt"], ("one.txt", "")),
        ("two arguments", ["one.txt", "two.txt"], ("one.txt", "two.txt")),
        ("three arguments", ["one.txt", "two.txt", "three.txt"], ("one.txt", "two.txt")),
        # GTK's own option goes to GTK, wherever it stands.
        ("GTK's display option first", [f"--display={display}", "a.txt"], ("a.txt", "")),
        ("GTK's display option between", ["a.txt", f"--display={display}", "b.txt"],
         ("a.txt", "b.txt")),
        ("a Cyrillic path", [cyrillic, "/tmp/второй.txt"], (cyrillic, "/tmp/второй.txt")),
        ("names that are no files, taken untested", ["<1>", "  spaced  "], ("<1>", "  spaced  ")),
        # Only --version and --help are the program's own; after "--" even they are names.
        ("names that look like options", ["-x", "--versions"], ("-x", "--versions")),
        # GTK itself leaves the "--" in place when what follows looks like an option.
        ("--help after --", ["--", "--help"], ("--", "--help")),
    ]
    for what, args, expected in cases:
        gui.check_equal(fields_after_start(binary, args), expected, what)
    gui.finish()


if __name__ == "__main__":
    main()
