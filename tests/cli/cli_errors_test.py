#!/usr/bin/env python3
"""Exit codes and messages of listwise-cli for bad input and bad usage.

Usage: cli_errors_test.py PATH/TO/listwise-cli; the last line reads "N passed, M failed".
"""

import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile

# The messages are read in Russian. LANGUAGE picks the catalogue under any locale but C, so no
# Russian locale need be generated; C.UTF-8 keeps the case folding the checks expect.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="ru")

NO_SEPARATOR = "Отсутствует разделитель"
NO_LIST = "Отсутствует список"
SAME_FILE = "один и тот же файл в поле ввода"
NO_FILE = "Файл не существует"
CANNOT_OPEN = "Файл не удаётся открыть"
IS_FOLDER = "Это папка, а не файл"


def said(message, path=None):
    """A message as listwise-cli prints it: named by the program and, if any, the file."""
    return "listwise-cli: %s%s" % ("" if path is None else path + ": ", message)


def run(cli, args, stdin=b"", prefix=()):
    proc = subprocess.run(list(prefix) + [cli] + args, input=stdin, capture_output=True, env=ENV,
                          timeout=20)
    return proc.returncode, proc.stdout, proc.stderr.decode("utf-8", "replace")


def main():
    if len(sys.argv) != 2:
        print("usage: cli_errors_test.py PATH/TO/listwise-cli", file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    passed = failed = skipped = 0
    with tempfile.TemporaryDirectory(prefix="listwise-errors-") as d:
        ok = os.path.join(d, "ok.txt")
        other = os.path.join(d, "other.txt")
        missing = os.path.join(d, "missing.txt")
        directory = os.path.join(d, "folder")
        for path in (ok, other):
            with open(path, "wb") as f:
                f.write(b"a\r\nb\r\n")
        os.mkdir(directory)
        # A socket exists and is no directory, yet opening it fails for every user, root
        # included: an honest "cannot be opened" that does not depend on permissions.
        sock_path = os.path.join(d, "socket")
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.bind(sock_path)
        locked = os.path.join(d, "locked.txt")
        with open(locked, "wb") as f:
            f.write(b"a\r\n")
        os.chmod(locked, 0)
        root_reads_anyway = os.access(locked, os.R_OK)

        # name, arguments, expected exit status, message expected on stderr (None: any)
        cases = [
            ("missing file", ["dedupe", missing], 1, said(NO_FILE, missing)),
            ("directory", ["dedupe", directory], 1, said(IS_FOLDER, directory)),
            ("socket cannot be opened", ["dedupe", sock_path], 1, said(CANNOT_OPEN, sock_path)),
            ("same path twice", ["only-in-second", ok, ok], 1, said(SAME_FILE, ok)),
            ("same path twice wins over a missing file", ["in-both", missing, missing], 1,
             said(SAME_FILE, missing)),
            ("standard input for both lists is a usage error", ["merge", "-", "-"], 2, None),
            ("empty separator", ["dedupe", ok, "--read-sep", ""], 1, said(NO_SEPARATOR)),
            ("empty separator comes before an empty list", ["dedupe", "", "--read-sep", ""], 1,
             said(NO_SEPARATOR)),
            ("empty first path", ["dedupe", ""], 1, said(NO_LIST)),
            ("empty second path", ["only-in-second", ok, ""], 1, said(NO_LIST)),
            ("first source is checked before the second", ["merge", directory, ""], 1,
             said(IS_FOLDER, directory)),
            ("missing second file", ["in-both", ok, missing], 1, said(NO_FILE, missing)),
            ("second cannot be opened", ["merge", ok, sock_path], 1, said(CANNOT_OPEN, sock_path)),
            ("the second file is named when the first is a pipe", ["in-both", "-", missing], 1,
             said(NO_FILE, missing)),
            ("unknown mode", ["sort", ok, other], 2, None),
            ("no arguments", [], 2, None),
            ("unknown option", ["dedupe", ok, "--frobnicate"], 2, None),
            ("option without its value", ["dedupe", ok, "--read-sep"], 2, None),
            ("second source missing for a two-source mode", ["only-in-second", ok], 2, None),
            ("second source missing for a new two-source mode", ["symmetric", ok], 2, None),
            ("a second list for duplicates", ["duplicates", ok, other], 2,
             "listwise-cli: режиму «duplicates» нужен только один список\n"
             "Справка: «listwise-cli --help»."),
        ]
        # Root reads a mode-000 file anyway; it then checks the missing permission as the
        # unprivileged user "nobody" (the folder is opened for traversal only).
        as_user = ()
        if root_reads_anyway and shutil.which("setpriv"):
            os.chmod(d, 0o711)
            as_user = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
            if run(cli, ["--help"], prefix=as_user)[0] != 0:
                as_user = ()  # the program itself lies out of that user's reach
        if root_reads_anyway and not as_user:
            print("SKIP unreadable file: root reads mode-000 files and cannot run the program as"
                  " nobody; the socket case covers the message")
            skipped += 1
        else:
            status, stdout, stderr = run(cli, ["dedupe", locked], prefix=as_user)
            if status == 1 and stderr.strip() == said(CANNOT_OPEN, locked) and not stdout:
                passed += 1
            else:
                failed += 1
                print("FAIL unreadable file%s: exit status %d, stderr %r"
                      % (" (as nobody)" if as_user else "", status, stderr))

        out_path = os.path.join(d, "out.txt")
        for name, args, want_status, want_message in cases:
            with open(out_path, "wb") as f:
                f.write(b"earlier result")
            status, stdout, stderr = run(cli, (["--output", out_path] if args else []) + args)
            with open(out_path, "rb") as f:
                kept = f.read() == b"earlier result"
            problems = []
            if status != want_status:
                problems.append("exit status %d, expected %d" % (status, want_status))
            if want_message is not None and stderr.strip() != want_message:
                problems.append("stderr %r, expected %r" % (stderr, want_message))
            if stdout:
                problems.append("stdout not empty: %r" % stdout[:80])
            if not kept:
                problems.append("the --output file was changed")
            if problems:
                failed += 1
                print("FAIL %s: %s\n  args: %r" % (name, "; ".join(problems), args))
            else:
                passed += 1

        # A read error on standard input is no end of the list: /proc/self/mem fails at offset
        # 0 (EIO), a directory at once (EISDIR).
        folder_fd = os.open(directory, os.O_RDONLY)
        with open("/proc/self/mem", "rb") as mem:
            for name, source in (("/proc/self/mem", mem), ("a directory", folder_fd)):
                proc = subprocess.run([cli, "only-in-second", "-", ok], stdin=source,
                                      capture_output=True, env=ENV, timeout=20)
                stderr = proc.stderr.decode("utf-8", "replace")
                if (proc.returncode == 1 and stderr.strip() == "listwise-cli: -: " + CANNOT_OPEN
                        and not proc.stdout):
                    passed += 1
                else:
                    failed += 1
                    print("FAIL read error on standard input from %s: exit status %d, stderr %r"
                          % (name, proc.returncode, stderr))
        os.close(folder_fd)

        # --help is no error: usage on standard output, exit status 0.
        status, stdout, stderr = run(cli, ["--help"])
        if status == 0 and b"listwise-cli" in stdout:
            passed += 1
        else:
            failed += 1
            print("FAIL --help: exit status %d, stdout %r, stderr %r" % (status, stdout, stderr))

        # Operations on one source never examine the second field beyond the same-path test.
        status, stdout, stderr = run(cli, ["dedupe", ok, missing])
        if status == 0 and stdout == b"\xef\xbb\xbfa\r\nb":
            passed += 1
        else:
            failed += 1
            print("FAIL dedupe ignores a missing second file: exit status %d, stdout %r, "
                  "stderr %r" % (status, stdout, stderr))
        sock.close()
        os.chmod(locked, stat.S_IRUSR | stat.S_IWUSR)
    print("%d passed, %d failed%s" % (passed, failed, ", %d skipped" % skipped if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
