#!/usr/bin/env python3
"""Sources that change or cannot be read twice: a list cut short while it is read fails the run
and leaves an earlier --output as it was; a named pipe, /dev/stdin and <(...) are opened once and
read whole.

Usage: cut_source_test.py PATH/TO/listwise-cli PATH/TO/cut_while_read.so
"""
import os
import subprocess
import sys
import tempfile
import threading

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, flush=True)


def main():
    cli, shim = sys.argv[1], sys.argv[2]
    # The message is read in Russian, whatever locale the machine has (LANGUAGE works under any
    # locale but C).
    env = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="ru")
    # A shim preloaded before the sanitizers' runtime: they must not insist on coming first.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    with tempfile.TemporaryDirectory(prefix="listwise-cut-") as work:
        big = os.path.join(work, "big.txt")
        small = os.path.join(work, "small.txt")
        keep = os.path.join(work, "keep.out")
        with open(small, "w") as f:
            f.write("a\n")

        # Cut to a third once the first bytes were read: every operation fails, whichever
        # list is cut, and the earlier result stays.
        for mode, lists, cut in (("dedupe", [big], big), ("count", [big], big),
                                 ("in-both", [small, big], big), ("merge", [big, small], big),
                                 ("only-in-second", [small, big], big)):
            with open(big, "w") as f:
                f.writelines("item%d\n" % i for i in range(300000))
            with open(keep, "w") as f:
                f.write("earlier result")
            whole = os.path.getsize(big)
            run_env = dict(env, LD_PRELOAD=shim, LISTWISE_CUT_FILE=cut,
                           LISTWISE_CUT_TO=str(whole // 3))
            proc = subprocess.run([cli, "-q", "-o", keep, mode] + lists, env=run_env,
                                  capture_output=True, timeout=60)
            err = proc.stderr.decode()
            check(os.path.getsize(big) == whole // 3, "%s: the list was not cut" % mode)
            check(proc.returncode == 1, "%s: exit status %d" % (mode, proc.returncode))
            check(err.strip() == "listwise-cli: %s: Файл изменился во время чтения" % cut,
                  "%s: message %r" % (mode, err))
            with open(keep) as f:
                check(f.read() == "earlier result", "%s: the earlier --output changed" % mode)
            check(sorted(os.listdir(work)) == ["big.txt", "keep.out", "small.txt"],
                  "%s: files left: %s" % (mode, os.listdir(work)))

        # A named pipe whose writer comes later: read once, whole, and the run ends.
        fifo = os.path.join(work, "fifo")
        os.mkfifo(fifo)

        def write_later(data):
            with open(fifo, "wb") as f:
                f.write(data)

        for data, expected in ((b"a\nb\n", "b\n"),
                               ("a\nПривет\n".encode("cp1251"), "Привет\n")):
            writer = threading.Timer(0.5, write_later, [data])
            writer.start()
            try:
                proc = subprocess.run([cli, "-q", "--plain", "only-in-second", small, fifo],
                                      env=env, capture_output=True, timeout=30)
                check(proc.stdout.decode() == expected,
                      "named pipe: %r, stderr %r" % (proc.stdout, proc.stderr))
            except subprocess.TimeoutExpired:
                check(False, "named pipe: the run never ended")
            writer.join()

        # /dev/stdin and process substitution read the same way.
        proc = subprocess.run([cli, "-q", "--plain", "only-in-second", small, "/dev/stdin"],
                              input=b"a\nc\n", env=env, capture_output=True, timeout=30)
        check(proc.stdout == b"c\n", "/dev/stdin: %r %r" % (proc.stdout, proc.stderr))
        proc = subprocess.run(["bash", "-c", '"$0" -q --plain only-in-second "$1" <(printf "a\\nd\\n")',
                               cli, small], env=env, capture_output=True, timeout=30)
        check(proc.stdout == b"d\n", "<(...): %r %r" % (proc.stdout, proc.stderr))

    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
