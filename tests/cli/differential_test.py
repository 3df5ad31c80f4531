#!/usr/bin/env python3
"""Checks listwise-cli byte for byte against the plain model in reference_model.py.

Usage: differential_test.py PATH/TO/listwise-cli
Environment: LISTWISE_DIFF_SEED (default 20261207), LISTWISE_DIFF_CASES (default 1200, or 300
for a sanitizer build), LISTWISE_DIFF_COLUMNS (1 or 0: run the cases of lists as tables or
skip them; by default they run when the program's --help names --column).

First a table of fixed cases whose expected bytes were worked out by hand (they check the
model as well as the CLI), then randomised cases. Every mismatch is shrunk to a small
reproduction and printed; the last line reads "N passed, M failed".
"""

import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reference_model as model  # noqa: E402

BOM = b"\xef\xbb\xbf"
STATUS = re.compile(r"^Найдено (\d+) за (-?\d+) мсек$")
# The messages are read in Russian. LANGUAGE picks the catalogue under any locale but C, so no
# Russian locale need be generated; C.UTF-8 keeps the case folding the checks expect.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="ru")
SHRINK_BUDGET = 300
MAX_REPORTED = 5
# What the model answers for a run that stops with exit status 2 and writes nothing.
REFUSED = "refused"
# A list refused before its notices were told leaves its code page unnamed; the model then
# reads it in this one (it only matters for a list judged to be in a code page).
FALLBACK_PAGE = "Windows-1251"


class Case:
    def __init__(self, mode, first, second=b"", read_sep=None, result_sep=None, whole=False,
                 case_flag=1, bom=True, stdin=None, to_file=False, pass_second=None,
                 encoding=None, trim=False, fold_yo=False, order=None, column=None,
                 field_sep=None, header=False, rows=False):
        self.mode = mode
        self.first = first
        self.second = second
        self.read_sep = read_sep  # None: option left out, the default \r\n applies
        self.result_sep = result_sep
        self.whole = whole
        self.case_flag = case_flag
        self.bom = bom
        self.stdin = stdin  # None, "first" or "second"
        self.to_file = to_file
        # Operations 2 and 3 ignore SECOND; sometimes it is passed anyway.
        self.pass_second = mode in model.TWO_LISTS if pass_second is None else pass_second
        self.encoding = encoding  # an --encoding name, or None to have the program judge
        self.trim = trim
        self.fold_yo = fold_yo
        self.order = order  # an --order name, or None: option left out, table order applies
        self.column = column  # --column and --field-sep as typed, or None: option left out
        self.field_sep = field_sep
        self.header = header
        self.rows = rows

    def copy(self, **changes):
        fields = dict(self.__dict__)
        fields.update(changes)
        return Case(**fields)

    def expected(self, pages=(None, None)):
        """(bytes, found count), or REFUSED."""
        if self.column is not None:
            pages = tuple(page or FALLBACK_PAGE for page in pages)
        try:
            return model.run(self.mode, self.first, self.second,
                             "\\r\\n" if self.read_sep is None else self.read_sep,
                             "\\r\\n" if self.result_sep is None else self.result_sep,
                             self.whole, self.case_flag, self.bom, self.encoding, pages,
                             self.trim, self.fold_yo, self.order or "table", self.column,
                             self.field_sep, self.header, self.rows)
        except model.Refused:
            return REFUSED

    def short_rows(self, pages):
        """How many rows of each list read lack the field."""
        pages = tuple(page or FALLBACK_PAGE for page in pages)
        return model.short_rows(self.mode, self.first, self.second, self.column,
                                self.field_sep, self.header, self.encoding, pages)

    def list_names(self, workdir):
        fields = ["first"] + (["second"] if self.mode in model.TWO_LISTS else [])
        return [("-" if self.stdin == field else os.path.join(workdir, field + ".txt"))
                for field in fields]

    def warnings_problem(self, workdir, pages, warnings):
        """None when standard error told what it should before the status line. Lists read as
        tables may tell more: their notices of reading come in their order, and each list with
        rows that lack the field has a line of its own holding their number."""
        want = self.expected_warnings(workdir, pages)
        if self.column is None:
            return None if warnings == want else "warnings %r, expected %r" % (warnings, want)
        rest = iter(warnings)
        if not all(line in rest for line in want):
            return "warnings %r, expected %r among them" % (warnings, want)
        for name, short in zip(self.list_names(workdir), self.short_rows(pages)):
            prefix = "listwise-cli: %s: " % name
            told = [line[len(prefix):] for line in warnings
                    if line.startswith(prefix) and line not in want]
            if short and not any(re.search(r"(?<!\d)%d(?!\d)" % short, line) for line in told):
                return "warnings %r, expected %d rows without the field in %s" % (
                    warnings, short, name)
        return None

    def expected_warnings(self, workdir, pages=(None, None)):
        """The lines before the status line: one per notice, first list first."""
        lines = []
        for k, name in enumerate(self.list_names(workdir)):
            data = self.first if k == 0 else self.second
            lines += ["listwise-cli: %s: %s" % (name, phrase)
                      for phrase in model.source_notices(data, self.encoding, pages[k],
                                                         name == "-")]
        return lines

    def judged_pages(self, workdir, warnings):
        """The code pages the program named for the lists it judged to be in one."""
        pages = [None, None]
        for k, name in enumerate(self.list_names(workdir)):
            prefix = "listwise-cli: %s: прочитан как " % name
            for line in warnings:
                if line.startswith(prefix):
                    named = line[len(prefix):]
                    named = named[len("UTF-8 и "):] if named.startswith("UTF-8 и ") else named
                    if named in model.PAGE_CODECS:
                        pages[k] = named
        return tuple(pages)

    def arguments(self, workdir):
        first_path = os.path.join(workdir, "first.txt")
        second_path = os.path.join(workdir, "second.txt")
        args = [model.MODES[self.mode], "-" if self.stdin == "first" else first_path]
        if self.pass_second:
            args.append("-" if self.stdin == "second" else second_path)
        if self.read_sep is not None:
            args += ["--read-sep", self.read_sep]
        if self.result_sep is not None:
            args += ["--result-sep", self.result_sep]
        if self.whole:
            args.append("--whole-separator")
        if not self.case_flag:
            args.append("--ignore-case")
        if self.trim:
            args.append("--trim")
        if self.fold_yo:
            args.append("--fold-yo")
        if self.encoding is not None:
            args.append("--encoding=" + self.encoding)
        if self.order is not None:
            args.append("--order=" + self.order)
        if self.column is not None:
            args.append("--column=" + self.column)
        if self.field_sep is not None:
            args.append("--field-sep=" + self.field_sep)
        if self.header:
            args.append("--header")
        if self.rows:
            args.append("--rows")
        if self.to_file:
            args += ["--output", os.path.join(workdir, "out.bin")]
        if not self.bom:
            args.append("--no-bom")
        return args

    def describe(self, workdir="DIR"):
        lines = ["  args: %r" % self.arguments(workdir),
                 "  first.txt%s: %s" % (" (stdin)" if self.stdin == "first" else "",
                                       self.first.hex(" ") or "(empty)")]
        if self.pass_second:
            lines.append("  second.txt%s: %s" % (" (stdin)" if self.stdin == "second" else "",
                                                self.second.hex(" ") or "(empty)"))
        return "\n".join(lines)


def run_cli(cli, case, workdir):
    """Returns (output bytes or None, count or None, problem text or None, the warnings on
    standard error, exit status). A run that fails leaves its standard output as the
    output."""
    with open(os.path.join(workdir, "first.txt"), "wb") as f:
        f.write(case.first)
    with open(os.path.join(workdir, "second.txt"), "wb") as f:
        f.write(case.second)
    out_path = os.path.join(workdir, "out.bin")
    if os.path.exists(out_path):
        os.unlink(out_path)
    stdin = {"first": case.first, "second": case.second}.get(case.stdin, b"")
    args = [cli] + [a.encode("utf-8", "surrogatepass") for a in case.arguments(workdir)]
    try:
        proc = subprocess.run(args, input=stdin, capture_output=True, env=ENV, timeout=20)
    except subprocess.TimeoutExpired:
        return None, None, "timed out", [], None
    stderr = proc.stderr.decode("utf-8", "replace")
    lines = stderr.splitlines()
    status = proc.returncode
    if status != 0:
        return proc.stdout, None, "exit status %d, stderr %r" % (status, stderr), lines, status
    match = STATUS.match(lines[-1]) if lines else None
    if not match:
        return None, None, "no status line at the end of stderr: %r" % stderr, [], status
    if case.to_file:
        if proc.stdout:
            return None, None, "stdout not empty with --output: %r" % proc.stdout[:80], [], \
                status
        if not os.path.exists(out_path):
            return None, None, "--output file not written", [], status
        with open(out_path, "rb") as f:
            output = f.read()
    else:
        output = proc.stdout
    return output, int(match.group(1)), None, lines[:-1], status


def mismatch(cli, case, workdir, expected=None):
    """None when the CLI agrees; else a text saying how it differs."""
    got, got_count, problem, warnings, status = run_cli(cli, case, workdir)
    pages = case.judged_pages(workdir, warnings)
    want = case.expected(pages) if expected is None else expected
    if want == REFUSED:
        written = os.path.exists(os.path.join(workdir, "out.bin"))
        if status == 2 and not got and not written:
            return None
        return "  expected exit status 2 and nothing written, got exit status %s%s%s" % (
            status, ", output %r" % got[:80] if got else "",
            ", an --output file" if written else "")
    want, want_count = want
    if not problem:
        problem = case.warnings_problem(workdir, pages, warnings)
    if problem:
        return "%s\n  expected: %s (count %d)" % (problem, want.hex(" "), want_count)
    if got != want or got_count != want_count:
        return "  expected: %s (count %d)\n  got:      %s (count %d)" % (
            want.hex(" ") or "(nothing)", want_count, got.hex(" ") or "(nothing)", got_count)
    return None


def shrink(cli, case, workdir):
    """Deletes chunks of the input files while the CLI still disagrees with the model."""
    budget = SHRINK_BUDGET
    for field in ("first", "second"):
        size = max(len(getattr(case, field)) // 2, 1)
        while size >= 1 and budget > 0:
            start = 0
            while start < len(getattr(case, field)) and budget > 0:
                data = getattr(case, field)
                candidate = case.copy(**{field: data[:start] + data[start + size:]})
                budget -= 1
                if mismatch(cli, candidate, workdir):
                    case = candidate
                else:
                    start += size
            size //= 2
    return case


# ---------------------------------------------------------------------------------------------
# Fixed cases: expected bytes (after the mark) and counts worked out by hand.

def utf16le(text):
    return b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass")


FIXED = [
    # name, mode, first, second, read sep, result sep, whole, case flag, expected, count,
    # then perhaps the encoding and the order
    ("first order: as the items first stand", 2, b"b;a;c;a;b", b"", ";", ",", 0, 1, b"b,a,c",
     3, "utf-8", "first"),
    ("first order ignoring case: the first place, the last spelling", 2, b"b;A;c;a;B", b"", ";",
     ",", 0, 0, b"B,a,c", 3, "utf-8", "first"),
    ("only-in-second in first order goes by the second list", 0, b"x", b"q;x;p;q;a", ";", ",",
     0, 1, b"q,p,a", 3, "utf-8", "first"),
    ("sorted: code points, not UTF-16 units", 2,
     b"b;\xc3\xa9;B;\xef\xbf\xbd;a;\xf0\x9f\x98\x80", b"", ";", ",", 0, 1,
     b"B,a,b,\xc3\xa9,\xef\xbf\xbd,\xf0\x9f\x98\x80", 6, "utf-8", "sorted"),
    ("sorted count lines go by the item", 3, b"b;a;b;c", b"", ";", ",", 0, 1, b"1 a,2 b,1 c", 3,
     "utf-8", "sorted"),
    ("count order: the most frequent first, ties as they first stand", 3, b"d;b;b;c;c;c;a;b",
     b"", ";", ",", 0, 1, b"3 b,3 c,1 d,1 a", 4, "utf-8", "count"),
    ("duplicates in count order: the most repeated first", 8, b"a;b;b;c;a;b", b"", ";", ",", 0,
     1, b"b,a", 2, "utf-8", "count"),
    ("merge in first order is merge", 4, b"a;b", b"1", ";", "=", 0, 1, b"a=1\r\nb", 1, "utf-8",
     "first"),
    ("only-in-second keeps table order", 0, b"a;b", b"b;c;c;;d;", ";", ",", 0, 1, b"c,d", 2),
    ("only-in-second ignoring case keeps the first spelling", 0, b"Apple",
     b"APPLE;Pear;PEAR;pear", ";", ",", 0, 0, b"Pear", 1),
    ("only-in-second of an empty second text", 0, b"a", b"", ";", ",", 0, 1, b"", 0),
    ("dedupe drops the empty item", 2, b"b;a;b;;a", b"", ";", "\\r\\n", 1, 1, b"a\r\nb", 2),
    ("dedupe ignoring case keeps the last spelling", 2, b"Foo;foo;FOO", b"", ";", ",", 0, 0,
     b"FOO", 1),
    ("hash walk: ascending slot, newest first, re-added key keeps its place", 2,
     b"b;a;abc;b", b"", ";", ",", 0, 1, b"a,abc,b", 3),
    ("count tells case apart", 3, b"x;y;x;X", b"", ";", ",", 0, 1, b"1 X,2 x,1 y", 3),
    ("count ignoring case shows folded keys", 3, b"x;y;x;X", b"", ";", ",", 0, 0,
     b"3 x,1 y", 2),
    ("count of the empty text", 3, b"", b"", ";", ",", 0, 1, b"1 ", 1),
    ("merge pairs then the longer tail", 4, b"a;b;c", b"1;2", ";", "\\t", 0, 1,
     b"a\t1\r\nb\t2\r\nc", 2),
    ("merge with the shorter first", 4, b"a", b"1;2;3", ";", "\\t", 0, 1,
     b"a\t1\r\n2\r\n3", 1),
    ("merge of two empty texts", 4, b"", b"", ";", "\\t", 0, 1, b"\t", 1),
    ("merge ignores the case flag", 4, b"A", b"a", ";", "=", 0, 0, b"A=a", 1),
    ("character rule: a;b;;c;", 4, b"a;b;;c;", b"", ";", "=", 0, 1, b"a=\r\nb\r\nc\r\n", 1),
    ("whole rule: a;b;;c;", 4, b"a;b;;c;", b"", ";", "=", 1, 1,
     b"a=\r\nb\r\n\r\nc\r\n", 1),
    ("character rule: ;a", 4, b";a", b"", ";", "=", 0, 1, b"a=", 1),
    ("whole rule: ;a", 4, b";a", b"", ";", "=", 1, 1, b"=\r\na", 1),
    ("whole rule: xbay is one item", 4, b"xbay", b"", "ab", "=", 1, 1, b"xbay=", 1),
    ("character rule: xbay is two items", 4, b"xbay", b"", "ab", "=", 0, 1, b"x=\r\ny", 1),
    ("default separator, character rule, mixed line ends", 4, b"a\r\nb\nc\r\rd\r\n", b"", None,
     "=", 0, 1, b"a=\r\nb\r\nc\r\nd\r\n", 1),
    ("default separator, whole rule, LF alone does not cut", 4, b"a\nb\r\n\r\nc\r\n", b"", None,
     "=", 1, 1, b"a\nb=\r\n\r\nc\r\n", 1),
    ("separator longer than the text", 2, b"abc", b"", "abcdefgh", ",", 1, 1, b"abc", 1),
    ("backslash x stays as typed", 2, b"1\\x2", b"", "\\x", ",", 1, 1, b"1,2", 2),
    ("backslash backslash n is backslash and line feed", 2, b"1\\\n2\n3", b"", "\\\\n", ",", 1,
     1, b"1,2\n3", 2),
    ("empty result separator: no cut, items side by side", 2, b"b;a", b"", ";", "", 0, 1,
     b"ab", 2),
    ("default separators cut lines and join with CR LF", 2, b"b\r\na\r\n", b"", None, None, 0,
     1, b"a\r\nb", 2),
    ("empty result writes the mark alone", 2, b"", b"", ";", ",", 0, 1, b"", 0),
    ("in-both keeps what the second has", 1, b"a;B;c;a", b"b;a", ";", ",", 0, 1, b"a", 1),
    ("in-both ignoring case shows the first's spelling", 1, b"a;B;c;a", b"b;A", ";", ",", 0, 0,
     b"a,B", 2),
    ("in-both keeps the empty item when both have it", 1, b"a;;b", b"b;;", ";", ",", 1, 1,
     b",b", 2),
    # Decoding: one item per file (the separator never occurs), shown by dedupe.
    ("utf-8: a C3 b c swallows the b", 2, bytes.fromhex("61 c3 62 63"), b"", "|", ",", 1, 1,
     bytes.fromhex("61 03 63"), 1),
    ("utf-8: four bytes give a surrogate pair", 2, bytes.fromhex("f0 9f 98 80"), b"", "|", ",",
     1, 1, bytes.fromhex("f0 9f 98 80"), 1),
    ("utf-8: a value above 10FFFF ends the text", 2, bytes.fromhex("f4 90 80 80 41"), b"", "|",
     ",", 1, 1, b"", 0),
    ("utf-8: EF BB alone is no mark and no text", 2, bytes.fromhex("ef bb"), b"", "|", ",", 1,
     1, b"", 0),
    ("utf-8: the mark alone", 2, BOM, b"", "|", ",", 1, 1, b"", 0),
    ("utf-8: a stray continuation byte is a question mark", 2, bytes.fromhex("61 80 62"), b"",
     "|", ",", 1, 1, b"a?b", 1),
    ("utf-8: a zero byte ends the text", 2, bytes.fromhex("61 00 62"), b"", "|", ",", 1, 1,
     b"a", 1),
    ("utf-8: an incomplete last group is dropped", 2, bytes.fromhex("61 e2 82"), b"", "|", ",",
     1, 1, b"a", 1),
    ("utf-16le: FF FE 41 00", 2, bytes.fromhex("ff fe 41 00"), b"", "|", ",", 1, 1, b"A", 1),
    ("utf-16le: an odd last byte is lost", 2, bytes.fromhex("ff fe 41 00 42"), b"", "|", ",",
     1, 1, b"A", 1),
    ("utf-16le: a lone high surrogate is written as three bytes", 2, utf16le("a\ud800b"), b"",
     "|", ",", 1, 1, bytes.fromhex("61 ed a0 80 62"), 1),
    ("utf-16le: items after a lone high surrogate are kept", 2, utf16le("z\n\ud800\na"), b"",
     "\\n", "\\n", 1, 1, bytes.fromhex("ed a0 80 0a 61 0a 7a"), 3),
    ("utf-16le: a lone high surrogate as the last unit", 2, utf16le("a\udbff"), b"", "|", ",", 1,
     1, bytes.fromhex("61 ed af bf"), 1),
    ("utf-16le: a lone low surrogate is written as three bytes", 2, utf16le("\udc00"), b"", "|",
     ",", 1, 1, bytes.fromhex("ed b0 80"), 1),
    ("utf-16le: e acute and a pair", 2, utf16le("\u00e9\U0001F600"), b"", "|", ",", 1, 1,
     bytes.fromhex("c3 a9 f0 9f 98 80"), 1),
    ("utf-16be is read unit by unit", 2, bytes.fromhex("fe ff 00 41 04 16 00 3b 00 42"), b"",
     ";", ",", 1, 1, "AЖ,B".encode(), 2),
    ("utf-16be: a zero unit ends the text", 2, bytes.fromhex("fe ff 00 41 00 00 00 42"), b"",
     "|", ",", 1, 1, b"A", 1),
    ("utf-32le: FF FE 00 00 then A", 2, bytes.fromhex("ff fe 00 00 41 00 00 00"), b"", "|",
     ",", 1, 1, b"A", 1),
    ("utf-32le: the mark alone", 2, bytes.fromhex("ff fe 00 00"), b"", "|", ",", 1, 1, b"", 0),
    ("utf-32be: a value above FFFF becomes a pair", 2, bytes.fromhex("00 00 fe ff 00 01 f6 00"),
     b"", "|", ",", 1, 1, bytes.fromhex("f0 9f 98 80"), 1),
    ("utf-32le: out-of-range values become question marks", 2,
     bytes.fromhex("ff fe 00 00 00 00 11 00 00 d8 00 00 41 00 00 00"), b"", "|", ",", 1, 1,
     b"??A", 1),
    ("utf-32be: a zero character ends the text", 2,
     bytes.fromhex("00 00 fe ff 00 00 00 41 00 00 00 00 00 00 00 42"), b"", "|", ",", 1, 1,
     b"A", 1),
    ("utf-8: a zero byte inside a group still leaves the lead's bits", 2,
     bytes.fromhex("41 c3 00 42"), b"", "|", ",", 1, 1, bytes.fromhex("41 03"), 1),
    ("utf-8: a sequence cut by a zero byte keeps its value", 2, bytes.fromhex("e2 82 00"), b"",
     "|", ",", 1, 1, bytes.fromhex("c2 82"), 1),
    ("utf-8: a misaligned continuation byte ends the text", 2, bytes.fromhex("e2 41 82"), b"",
     "|", ",", 1, 1, bytes.fromhex("02"), 1),
    ("utf-8: a sequence stopped early keeps the bits it has", 2,
     bytes.fromhex("f1 41 e2 82 ac 43"), b"", "|", ",", 1, 1, bytes.fromhex("01 c2 82 43"), 1),
    ("utf-8: a misaligned lead without enough bytes ends the text", 2,
     bytes.fromhex("f1 41 41 e2"), b"", "|", ",", 1, 1, bytes.fromhex("01 41"), 1),
    ("utf-8: an overlong zero ends the text", 2, bytes.fromhex("41 c0 80 42"), b"", "|", ",", 1,
     1, b"A", 1),
    ("utf-8: an encoded high surrogate goes through", 2, bytes.fromhex("41 ed a0 80 42"), b"",
     "|", ",", 1, 1, bytes.fromhex("41 ed a0 80 42"), 1),
    ("utf-8: an encoded low surrogate goes through", 2, bytes.fromhex("ed b0 80"), b"", "|",
     ",", 1, 1, bytes.fromhex("ed b0 80"), 1),
    ("a file of zero bytes", 2, bytes(64), b"", "|", ",", 1, 1, b"", 0),
    ("a UTF-16 file of zero units", 2, b"\xff\xfe" + bytes(64), b"", "|", ",", 1, 1, b"", 0),
    ("a single byte FF is no mark", 2, bytes.fromhex("ff"), b"", "|", ",", 1, 1, b"?", 1),
    ("FF FE 00 is UTF-16 with a lone byte", 2, bytes.fromhex("ff fe 00"), b"", "|", ",", 1, 1,
     b"", 0),
    ("00 00 FE is no mark and ends at once", 2, bytes.fromhex("00 00 fe"), b"", "|", ",", 1, 1,
     b"", 0),
    ("FE FF 00 is UTF-16BE with a lone byte", 2, bytes.fromhex("fe ff 00"), b"", "|", ",", 1, 1,
     b"", 0),
    # A result separator that completes a surrogate pair is cut before the text is written.
    ("cut separator leaves a lone high surrogate", 2, utf16le("x\ud83d"), b"", "|", "\ude00",
     1, 1, bytes.fromhex("78 ed a0 bd"), 1),
    ("separator completes a pair only where it stays", 2, utf16le("x\ud83d;y"), b"", ";",
     "\ude00", 1, 1, bytes.fromhex("79 ed b8 80 78 ed a0 bd"), 2),
    # Lists without a mark that are not UTF-8: read in the code page their bytes show (merge
    # lays the items of both side by side), each line of a mostly UTF-8 list on its own.
    ("windows-1251 against its UTF-8 copy", 4, "Привет\nПривод\nмир\nмор".encode("cp1251"),
     "Привет\nПривод\nмир\nмор".encode(), "\\n", "=", 0, 1,
     "Привет=Привет\r\nПривод=Привод\r\nмир=мир\r\nмор=мор".encode(), 4, None),
    ("koi8-r in capitals", 4, "ИВАНОВ;ПЕТРОВ".encode("koi8_r"), b"x;y", ";", "=", 0, 1,
     "ИВАНОВ=x\r\nПЕТРОВ=y".encode(), 2, None),
    ("cp866 with a byte every code page has", 4, "Сумма=100\nДата".encode("cp866"), b"1\n2",
     "\\n", " ", 0, 1, "Сумма=100 1\r\nДата 2".encode(), 2, None),
    ("latin-1 words", 4, "Müller;Straße;café".encode("latin-1"), b"1;2;3", ";", "=", 0, 1,
     "Müller=1\r\nStraße=2\r\ncafé=3".encode(), 3, None),
    ("utf-16le without a mark, by its zero bytes", 4, "ab\nЖ".encode("utf-16-le"), b"1\n2",
     "\\n", "=", 0, 1, "ab=1\r\nЖ=2".encode(), 2, None),
    ("utf-16be without a mark", 4, "x\ny".encode("utf-16-be"), b"1\n2", "\\n", "=", 0, 1,
     "x=1\r\ny=2".encode(), 2, None),
    ("utf-8 with one line in windows-1251", 4,
     "Жук\nЁж\nЯк\n".encode() + "Жук".encode("cp1251"), b"1\n2\n3\n4", "\\n", "=", 0, 1,
     "Жук=1\r\nЁж=2\r\nЯк=3\r\nЖук=4".encode(), 4, None),
    ("a named code page", 4, "Жук;мир".encode("koi8_r"), b"1;2", ";", "=", 0, 1,
     "Жук=1\r\nмир=2".encode(), 2, "koi8-r"),
    ("a named UTF-16 without a mark", 4, "a;Ж".encode("utf-16-le"), "1;2".encode("utf-16-le"),
     ";", "=", 0, 1,
     "a=1\r\nЖ=2".encode(), 2, "utf-16le"),
    ("a mark wins over a named encoding", 4, utf16le("a;Ж"), b"1;2", ";", "=", 0, 1,
     "a=1\r\nЖ=2".encode(), 2, "cp866"),
    # Different keys with equal 32-bit hashes stay different.
    ("equal hashes: dedupe keeps both, newest first", 2, "aжA;bθ\u0fc2;aжA".encode(), b"", ";",
     ",", 0, 1, "bθ\u0fc2,aжA".encode(), 2),
    ("equal hashes: only-in-second does not take one for the other", 0, "aжA".encode(),
     "bθ\u0fc2;aжA".encode(), ";", ",", 0, 1, "bθ\u0fc2".encode(), 1),
    ("equal hashes: in-both removes the one the second lacks", 1, "aжA;bθ\u0fc2".encode(),
     "aжA".encode(), ";", ",", 0, 1, "aжA".encode(), 1),
    ("equal hashes: count keeps two counters", 3, "aжA;bθ\u0fc2;bθ\u0fc2".encode(), b"", ";",
     ",", 0, 1, "2 bθ\u0fc2,1 aжA".encode(), 2),
    # Folding, one unit at a time.
    ("folding: Cyrillic capitals and Yo", 2, "Ж;ж;Ёж;ёЖ".encode(), b"", ";", ",", 0, 0,
     "ёЖ,ж".encode(), 2),
    ("folding leaves sharp s and astral capitals alone", 2, "ß;\U00010400;\U00010428".encode(),
     b"", ";", ",", 0, 0, "\U00010400,\U00010428,ß".encode(), 3),
]


# Trimming and ё folding, and the modes of later, on lists with CR LF and LF line ends, no-break
# spaces, ё and Ё, -i and empty items.
FIXED_RULES = [
    # name, mode, first, second, read sep, result sep, whole, case flag, trim, fold-yo,
    # expected, count
    ("trim: a spreadsheet column with no-break spaces", 5,
     "Иванов\u00a0\r\nПетров\r\n \u00a0Сидоров\r\n".encode(), "Иванов\nСидоров\n".encode(),
     None, ",", 0, 1, True, False, "Петров".encode(), 1),
    ("trim: white space alone is the empty item", 3, "\t\n\u00a0\u3000\na".encode(), b"",
     "\\n", ",", 0, 1, True, False, b"2 ,1 a", 2),
    ("trim in merge", 4, " a\r\nb\u00a0".encode(), b"1 \r\n2", None, "=", 0, 1, True, False,
     b"a=1\r\nb=2", 2),
    ("fold-yo: Орёл is Орел, spelt as the first list has it", 1, "Орёл\r\nМосква".encode(),
     "Орел\n".encode(), None, ",", 0, 1, False, True, "Орёл".encode(), 1),
    ("fold-yo with -i: all four alike, the last spelling kept", 2,
     "ёж\nЁж\nеж\nЕж\n".encode(), b"", "\\n", ",", 0, 0, False, True, "Еж".encode(), 1),
    ("fold-yo keeps case apart", 3, "ёж\nЕж\nеж".encode(), b"", "\\n", ",", 0, 1, False, True,
     "2 еж,1 Еж".encode(), 2),
    ("only-in-first ignoring case keeps the first spelling", 5, b"Pear\r\npear\r\nApple",
     b"APPLE", None, ",", 0, 0, False, False, b"Pear", 1),
    ("union without repeats or the empty item", 6, b"b\r\na\r\n", b"c\r\n\r\na", None, ",",
     0, 1, False, False, b"a,b,c", 3),
    ("symmetric ignoring case", 7, b"A\nb\n", b"a\nC\n", "\\n", ",", 0, 0, False, False,
     b"b,C", 2),
    ("duplicates, trimmed, without the empty item", 8, b"x \nx\n y\n\n\n", b"", "\\n", ",", 1,
     1, True, False, b"x", 1),
]

# Lists as tables: rows cut at line ends outside quotes, fields at the separator outside quotes.
# Each case names the options it sets (the result separator is "," unless it says otherwise)
# and perhaps how many rows of each list lack the field; None expects the run refused.
EXPORT_1251 = ("Фамилия;Имя;Телефон;E-mail\r\nИванов;Иван;+7 900 111;ivanov@mail.ru\r\n"
               "Петров;Пётр;+7 900 222;Petrov@Mail.ru \r\n").encode("cp1251")
EXPORT_UTF8 = BOM + ("Имя,E-mail,Фамилия,Телефон\r\nИван,IVANOV@mail.ru,Иванов,+7 999\r\n"
                     "Артём,novikov@mail.ru,\"Новиков, мл.\",+7 000\r\n"
                     "Пётр, petrov@mail.ru,Петров,+7 888\r\n").encode()
FIXED_COLUMNS = [
    # name, mode, first, second, options, expected, count
    ("quoted fields hold the separator, doubled quotes and CR LF", 2,
     b'1;"a;b"\r\n2;"say ""hi"""\r\n3;"x\r\ny"\r\n4;"a;b"\r\n', b"",
     dict(column="2", order="first", result_sep="|"), b'a;b|say "hi"|x\r\ny', 3),
    ("dedupe rows: the row of the last occurrence as it stands", 2,
     b'1;"a;b"\r\n2;"say ""hi"""\r\n3;"x\r\ny"\r\n4;"a;b"\r\n', b"",
     dict(column="2", order="first", result_sep="|", rows=True),
     b'4;"a;b"|2;"say ""hi"""|3;"x\r\ny"', 3),
    ("a quote inside an unquoted field is a character; after a closing one, kept", 2,
     'ООО "Ромашка";1\n"ab"c;2\nab"c;3\n'.encode(), b"", dict(column="1", order="first"),
     'ООО "Ромашка",abc,ab"c'.encode(), 3),
    ("an opening quote never closed is a character", 2, b'a;"b\nc;d\n', b"",
     dict(column="2", order="first"), b'"b,d', 2),
    ("a quote closed on a later line holds the line end", 2, b'a;"b\nc;d"\n', b"",
     dict(column="2"), b"b\nc;d", 1),
    ("short rows and empty fields are the empty item, never missing", 0, b"k;a\nk;b\n",
     b"1;a\n2\n3;c\n4;\n", dict(column="2", short=[0, 1]), b"c", 1),
    ("only-in-second rows: the row of the first occurrence in SECOND", 0, b"k;a\n",
     b"1;c\n2;a\n3;c\n", dict(column="2", rows=True), b"1;c", 1),
    ("a name by case and trimming, columns ordered apart, ';' against ','", 0,
     b"ID;Name\r\n1;Anna\r\n2;Boris\r\n", b'Name,ID\nBoris,7\n"Vera, Jr",8\nAnna,9\n',
     dict(column="name", header=True), b"Vera, Jr", 1),
    ("only-in-second rows start with SECOND's header", 0,
     b"ID;Name\r\n1;Anna\r\n2;Boris\r\n", b'Name,ID\nBoris,7\n"Vera, Jr",8\nAnna,9\n',
     dict(column="name", header=True, rows=True, result_sep="|"), b'Name,ID|"Vera, Jr",8', 1),
    ("only-in-first rows start with FIRST's header", 5, b"id;v\n1;a\n2;b\n", b"v;id\nb;2\n",
     dict(column="v", header=True, rows=True, result_sep="|"), b"id;v|1;a", 1),
    ("a name equal as it stands wins over one equal folded", 2, b" name;Name\na;b\nc;d\n", b"",
     dict(column="Name", header=True, order="first"), b"b,d", 2),
    ("a name equal only folded and trimmed: the first such", 2, b" name;Name\na;b\nc;d\n", b"",
     dict(column="NAME", header=True, order="first"), b"a,c", 2),
    ("a name SECOND's header lacks", 5, b"a;b\n1;2\n", b"a;c\n1;2\n",
     dict(column="b", header=True), None, 0),
    ("blank lines are no rows, before the header too", 2, b"\r\n\nk;v\r\n\r\n1;a\n\n2;b", b"",
     dict(column="v", header=True, order="first"), b"a,b", 2),
    ("union rows: the header, then the row of the last occurrence in the list that brought it",
     6, b"k;v\n1;a\n2;b\n", b"k;v\n3;b\n4;c\n",
     dict(column="2", header=True, rows=True, order="first", result_sep="|"),
     b"k;v|1;a|2;b|4;c", 3),
    ("union rows of lists whose headers differ", 6, b"k;v\n1;a\n", b"k;w\n3;b\n",
     dict(column="2", header=True, rows=True), None, 0),
    ("symmetric rows of lists whose separators differ", 7, b"1;a\n", b"1,b\n",
     dict(column="2", rows=True), None, 0),
    ("symmetric of lists whose separators differ, without rows", 7, b"1;a\n", b"1,b\n",
     dict(column="2", order="first"), b"a,b", 2),
    ("in-both -i --trim on the column", 1, b"  Apple ;1\nPEAR;2\napple ;3\n", b"APPLE\t9\n",
     dict(column="1", case_flag=0, trim=True), b"apple", 1),
    ("in-both -i --trim rows: the untrimmed row of the last occurrence", 1,
     b"  Apple ;1\nPEAR;2\napple ;3\n", b"APPLE\t9\n",
     dict(column="1", case_flag=0, trim=True, rows=True), b"apple ;3", 1),
    ("only-in-first -i rows: the row of the first occurrence", 5, b"B;1\nb;2\nA;3\n", b"a\n",
     dict(column="1", case_flag=0, rows=True), b"B;1", 1),
    ("sorted rows go by the row", 2, b"2;a\n1;b\n", b"",
     dict(column="2", rows=True, order="sorted"), b"1;b,2;a", 2),
    ("judged: the consistent separator with the most fields", 2, b"a,b;c,d\n", b"",
     dict(column="2"), b"b;c", 1),
    ("judged: a tie goes to ';'", 2, b"a;b,c\n", b"", dict(column="2"), b"b,c", 1),
    ("judged without a consistent one: most rows as wide as the first", 2,
     b"a;b,c\nd;e\nf,g\nh,i\n", b"", dict(column="2", order="first", short=[1]), b"c,g,i", 3),
    ("a list no candidate cuts is one column, quotes still read", 2, b'"a\nb"\nc\n', b"",
     dict(column="1", order="first"), b"a\nb,c", 2),
    ("--field-sep=\\t over the judged ';'", 2, b"a\tb;c;d\n", b"",
     dict(column="2", field_sep="\\t"), b"b;c;d", 1),
    ("merge takes no column", 4, b"a;b\n", b"a;b\n", dict(column="1"), None, 0),
    # Two exports of the same customers: Windows-1251 with ';', UTF-8 with a mark and ','.
    ("customers new by e-mail across two exports", 0, EXPORT_1251, EXPORT_UTF8,
     dict(column="E-mail", header=True, case_flag=0, trim=True, encoding=None), b"novikov@mail.ru",
     1),
    ("customers new by e-mail, as rows under the header", 0, EXPORT_1251, EXPORT_UTF8,
     dict(column="E-mail", header=True, case_flag=0, trim=True, rows=True, result_sep="|",
          encoding=None),
     'Имя,E-mail,Фамилия,Телефон|Артём,novikov@mail.ru,"Новиков, мл.",+7 000'.encode(), 1),
    ("count takes no rows", 3, b"a;b\n", b"", dict(column="1", rows=True), None, 0),
]


# ---------------------------------------------------------------------------------------------
# Random cases.

WORDS = ["a", "b", "ab", "abc", "x", "X", "Apple", "APPLE", "apple", "Foo", "foo", "FOO", "a b",
         " ", "ж", "Ж", "Ёж", "ёж", "ЁЖ", "Привет", "привет", "ПРИВЕТ", "ß", "é", "É", "İ", "Σσς",
         "ǅ", "\u212a", "k", "\U0001F600", "a\U0001F600b", "\U00010400", "\U00010428",
         "\U0001F601", "1;2", "a,b", "tab\there", "\\n", "<", "?",
         # lone surrogates: written as three bytes each, and nothing after them is lost
         "a\ud800", "\udbff", "\ud83d", "\ud83dz", "\udc00", "x\ude00",
         # white space at the ends, and ё against е
         " a", "a\u00a0", "\u00a0", "\u3000x\u2003", "\u200bb", "b\ufeff", "\t", "Орёл", "Орел",
         "ОРЁЛ", "ёлка", "Елка"]
LETTERS = "abcABC01ёЁжЖеЕ \u00a0"
# Typed separators (as the user types them): escapes, single and multi-unit, non-ASCII, astral,
# a backslash before another letter, and one far longer than most texts.
READ_SEPS = [None, "\\r\\n", "\\n", "\\r", "\\t", ";", ",", "ab", ";;", "→", "ж", "Ж", "<>",
             "\\x", "\\\\n", "\U0001F600", ";,\\t", "\\f", "\\r\\n\\t",
             "abcdefghijklmnopqrstuvwxyz0123456789"]
RESULT_SEPS = [None, "\\r\\n", "", ",", "\\t", " | ", "ж", "\\\\", "\U0001F600", "\\n\\n",
               "\ud83d"]
ENCODINGS = ["none", "utf8", "utf16le", "utf16be", "utf32le", "utf32be", "cp1251", "koi8_r",
             "cp866", "cp1252", "utf16le-bare", "utf16be-bare"]
MARKS = {"none": b"", "utf8": BOM, "utf16le": b"\xff\xfe", "utf16be": b"\xfe\xff",
         "utf32le": b"\xff\xfe\x00\x00", "utf32be": b"\x00\x00\xfe\xff"}


def random_item(rng, pool):
    roll = rng.random()
    if roll < (0.9 if len(pool) > 50 else 0.6) and pool:
        return rng.choice(pool)
    if roll < 0.75:
        return ""
    if roll < 0.9:
        return "".join(rng.choice(LETTERS) for _ in range(rng.randint(1, 3)))
    return rng.choice(WORDS)


def colliding_keys(rng, count):
    """Three-unit keys that share one of the 512 slots, so that the order within a chain
    shows. Only the low 9 bits of the hash pick the slot, and 65599 leaves 63 there."""
    slot = rng.randrange(512)
    keys = []
    for _ in range(count):
        c1, c2 = rng.choice("aAbBжЖ"), rng.choice("xXyYёЁ")
        c3 = (slot - (ord(c1) * 63 * 63 + ord(c2) * 63)) % 512
        keys.append(c1 + c2 + chr(c3 if c3 >= 0x30 else c3 + 512))
    return keys


def same_hash_keys(rng, count):
    """Different keys with one and the same 32-bit hash: 65599 squared leaves 8261505 modulo
    2^32, and 8261505 = 126 * 65599 - 3969, so stepping the units by (+1, -126, +3969) keeps
    the hash."""
    c1, c2, c3 = ord(rng.choice("aAbB")), rng.randrange(0x400, 0x500), rng.randrange(0x41, 0x7B)
    return [chr(c1 + k) + chr(c2 - 126 * k) + chr(c3 + 3969 * k) for k in range(count)]


def random_pool(rng):
    pool = [random_item(rng, []) for _ in range(rng.randint(1, 8))]
    if rng.random() < 0.3:
        pool += colliding_keys(rng, rng.randint(2, 6))
    if rng.random() < 0.15:
        pool += same_hash_keys(rng, rng.randint(2, 4))
    if rng.random() < 0.04:  # long lists: files beyond the 4096-byte buffer, long chains
        pool += ["".join(rng.choice(LETTERS + "xyzЯя😀") for _ in range(rng.randint(1, 6)))
                 for _ in range(rng.randint(100, 900))]
    if rng.random() < 0.02:  # one item longer than the buffer
        pool.append("".join(rng.choice("abЖж😀é") for _ in range(rng.randint(2000, 6000))))
    return pool


def random_text(rng, pool, separator, whole):
    """Items joined by separators that fit the read separator (mostly)."""
    count = rng.choice([0, 1, 2, 3, 5, 8, 12, 20])
    if len(pool) > 50:
        count = rng.randint(len(pool) // 2, len(pool) * 2)
    items = [random_item(rng, pool) for _ in range(count)]
    line_ends = ["\r\n", "\n", "\r"]
    def joiner():
        if separator in ("\r\n", None) and rng.random() < 0.7:
            return rng.choice(line_ends + ["\r\n\r\n", "\n\n"])
        if rng.random() < 0.1 or (len(separator) > 4 and rng.random() < 0.8):
            return rng.choice(line_ends + [";", "|"])  # perhaps never the separator
        if whole or len(separator) == 1:
            return separator * (2 if rng.random() < 0.1 else 1)
        return "".join(rng.choice(separator) for _ in range(rng.randint(1, 2)))
    text = ""
    for i, item in enumerate(items):
        text += item + (joiner() if i + 1 < len(items) or rng.random() < 0.4 else "")
    return text


def inject(rng, data, pieces, step):
    """Inserts a few raw pieces at positions aligned to step."""
    for _ in range(rng.randint(1, 3)):
        at = rng.randrange(len(data) // step + 1) * step
        data = data[:at] + rng.choice(pieces) + data[at:]
    return data


def encode_text(rng, text, encoding):
    if encoding.endswith("-bare"):  # UTF-16 without its mark: the zero bytes may tell it
        return encode_text(rng, text, encoding[:-5])[2:]
    if encoding.startswith(("cp", "koi8")):  # what the code page can hold, no mark
        data = text.encode(encoding, "ignore")
        if rng.random() < 0.2:
            data = inject(rng, data, [b"\x98", b"\xff", "Жук\n".encode(), b"\x00"], 1)
        return data
    if encoding in ("none", "utf8"):
        data = text.encode("utf-8", "surrogatepass")
        if rng.random() < 0.25:
            data = inject(rng, data, [b"\x80", b"\xbf", b"\xc3", b"\xe2\x82", b"\xf0\x9f",
                                      b"\xf8", b"\xff", b"\xc0\x80", b"\xed\xa0\x80",
                                      b"\xf4\x90\x80\x80", b"\xc3\x28", b"\x00"], 1)
        if rng.random() < 0.1 and data:
            data = data[:rng.randrange(len(data))]
        return MARKS[encoding] + data
    if encoding.startswith("utf16"):
        order = "little" if encoding.endswith("le") else "big"
        data = text.encode("utf-16-" + encoding[-2:], "surrogatepass")
        if rng.random() < 0.25:
            lone = [u.to_bytes(2, order) for u in (0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D)]
            data = inject(rng, data, lone + [b"\x00\x00"], 2)
        if rng.random() < 0.1:
            data += b"\x41"  # an odd last byte
        return MARKS[encoding] + data
    order = "little" if encoding.endswith("le") else "big"
    data = text.encode("utf-32-" + encoding[-2:], "surrogatepass")
    if rng.random() < 0.25:
        bad = [v.to_bytes(4, order) for v in (0x110000, 0xD800, 0xDFFF, 0xFFFFFFFF, 0, 0xFFFF)]
        data = inject(rng, data, bad, 4)
    if rng.random() < 0.1:
        data += b"\x41\x00\x00"[:rng.randint(1, 3)]  # an incomplete last character
    return MARKS[encoding] + data


def option_draws(rng, mode):
    """The options every random case draws besides its lists and separators."""
    two = mode in model.TWO_LISTS
    # Now and then the encoding is named rather than judged; a mark still wins over it.
    encoding = rng.choice(list(model.NAMED_ENCODINGS)) if rng.random() < 0.15 else None
    stdin = None
    if rng.random() < 0.1:
        stdin = "second" if two and rng.random() < 0.5 else "first"
    # duplicates refuses a second list; dedupe and count let it pass unread.
    pass_second = two or (mode != 8 and rng.random() < 0.3)
    # Any order a mode takes, or none named: count and duplicates have counts, merge takes its
    # own alone.
    orders = [None] + model.ORDERS
    if mode not in (3, 8):
        orders.remove("count")
    if mode == 4:
        orders.remove("sorted")
    order = rng.choice(orders)
    return dict(bom=rng.random() > 0.2, stdin=stdin, to_file=rng.random() < 0.5,
                pass_second=pass_second, encoding=encoding, trim=rng.random() < 0.4,
                fold_yo=rng.random() < 0.4, order=order)


def random_case(rng):
    mode = rng.randrange(len(model.MODES))
    if rng.random() < TABLE_SHARE:
        return random_table_case(rng, mode)
    typed_read = rng.choice(READ_SEPS)
    typed_result = rng.choice(RESULT_SEPS)
    whole = rng.random() < 0.5
    case_flag = rng.choice([0, 1])
    separator = model.expand_escapes("\\r\\n" if typed_read is None else typed_read)
    pool = random_pool(rng)
    texts = [random_text(rng, pool, separator, whole) for _ in range(2)]
    files = [encode_text(rng, t, rng.choice(ENCODINGS)) for t in texts]
    for i in range(2):
        if rng.random() < 0.04:  # a binary file, perhaps behind a mark
            files[i] = rng.choice(list(MARKS.values())) + bytes(
                rng.choice([0x00, 0x0A, 0x0D, 0x3B, 0xC3, 0xE2, 0xF0, 0xFF, rng.randrange(256)])
                for _ in range(rng.randrange(300)))
    two = mode in model.TWO_LISTS
    return Case(mode, files[0], files[1] if two else b"", typed_read, typed_result, whole,
                case_flag, **option_draws(rng, mode))


# Lists as tables: a share of the random cases, in the encodings whose reading needs no code
# page judged (a list refused may be refused before its notice names the page).
TABLE_SHARE = 0.3
TABLE_ENCODINGS = ["none", "utf8", "utf16le", "utf16be", "utf32le", "utf32be", "utf16le-bare",
                   "utf16be-bare"]
FIELD_SEPS = [";", ",", "\t"]
HEADER_NAMES = ["id", "ID", "Name", "name", " Name ", "E-mail", "Город", "ГОРОД", "Сумма", "x",
                ""]


def table_field(rng, value, separator):
    """A field as a spreadsheet writes it, or now and then not quite: quoted when it must be
    (mostly), quoted when it need not be, a quote inside, an opening quote left open."""
    if rng.random() < 0.1:
        value += rng.choice([separator, "\r\n", "\n", "\r", '"', '""', ";", ",", "\t"])
    roll = rng.random()
    if roll < 0.06:
        return (value or "a")[:1] + '"' + (value or "a")[1:]
    if roll < 0.1:
        return '"' + value
    awkward = value.startswith('"') or any(c in value for c in separator + "\r\n")
    if roll < 0.3 or (awkward and roll < 0.9):
        return '"' + value.replace('"', '""') + '"' + ("x" if rng.random() < 0.05 else "")
    return value


def random_table(rng, pool, separator, width, names):
    """Rows of `width` fields (now and then fewer or more), the header first when `names`."""
    rows = [names] if names is not None else []
    count = rng.choice([0, 1, 2, 3, 5, 8, 12])
    if len(pool) > 50:
        count = rng.randint(len(pool) // 2, len(pool))
    for _ in range(count):
        roll = rng.random()
        fields = width - rng.randint(1, width) if roll < 0.1 else width + (roll > 0.97)
        rows.append([random_item(rng, pool) for _ in range(max(fields, 1))])
    text = "\r\n" if rng.random() < 0.05 else ""
    for i, row in enumerate(rows):
        text += separator.join(table_field(rng, value, separator) for value in row)
        if i + 1 < len(rows) or rng.random() < 0.6:
            text += rng.choice(["\r\n", "\r\n", "\n", "\r", "\r\n\r\n", "\n\n"])
    return text


def respelled(rng, name):
    roll = rng.random()
    if roll < 0.2:
        return name.upper()
    if roll < 0.3:
        return " %s\u00a0" % name.lower()
    if roll < 0.35:
        return "nowhere"
    return name


def random_table_case(rng, mode):
    """Both lists as tables; merge, count with --rows, and union and symmetric with --rows over
    lists that differ in header or separator are refused."""
    pool = random_pool(rng)
    width = rng.randint(1, 5)
    header = rng.random() < 0.5
    names = [rng.sample(HEADER_NAMES, width)]
    names.append(names[0] if rng.random() < 0.5 else rng.sample(names[0], width))
    separators = [rng.choice(FIELD_SEPS) for _ in range(2)]
    if rng.random() < 0.6:
        separators[1] = separators[0]
    texts = [random_table(rng, pool, separators[k], width, names[k] if header else None)
             for k in range(2)]
    if header and rng.random() < 0.5:
        column = respelled(rng, rng.choice(names[0]))
    else:
        column = str(rng.randint(1, width + 1 if rng.random() < 0.1 else width))
    field_sep = None
    if rng.random() < 0.2:
        field_sep = "\\t" if separators[0] == "\t" else separators[0]
    options = option_draws(rng, mode)
    files = []
    for text in texts:
        data = encode_text(rng, text, rng.choice(TABLE_ENCODINGS))
        if options["encoding"] is None and model.detect_bom(data)[1] == 0 and \
                model.judge(data) in ("codepage", "mixed"):
            data = BOM + data  # read as UTF-8 as of old, its faults and all
        files.append(data)
    two = mode in model.TWO_LISTS
    return Case(mode, files[0], files[1] if two else b"", result_sep=rng.choice(RESULT_SEPS),
                case_flag=rng.choice([0, 1]), column=column, field_sep=field_sep, header=header,
                rows=rng.random() < 0.4, **options)


# ---------------------------------------------------------------------------------------------


def default_case_count(cli):
    # A sanitizer build starts about ten times slower; fewer cases keep that run in bounds
    # while the plain build carries the breadth.
    with open(cli, "rb") as f:
        return 300 if b"__asan_init" in f.read() else 1200


def knows_columns(cli):
    setting = os.environ.get("LISTWISE_DIFF_COLUMNS", "")
    if setting:
        return setting != "0"
    proc = subprocess.run([cli, "--help"], capture_output=True, env=ENV, timeout=20)
    return b"--column" in proc.stdout


def main():
    if len(sys.argv) != 2:
        print("usage: differential_test.py PATH/TO/listwise-cli", file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    seed = int(os.environ.get("LISTWISE_DIFF_SEED", "20261207"))
    count = int(os.environ.get("LISTWISE_DIFF_CASES", "0")) or default_case_count(cli)
    print("seed %d (set LISTWISE_DIFF_SEED to change), %d random cases" % (seed, count))
    columns = knows_columns(cli)
    if not columns:
        print("the program reads no lists as tables: their cases are skipped")
    passed = failed = skipped = 0

    def report(title, case, problem, workdir):
        nonlocal failed
        failed += 1
        if failed > MAX_REPORTED:
            return
        print("MISMATCH %s" % title)
        small = shrink(cli, case, workdir)
        problem = mismatch(cli, small, workdir) or problem
        print(small.describe(workdir))
        print(problem)

    with tempfile.TemporaryDirectory(prefix="listwise-diff-") as workdir:
        hand_worked = []  # (name, case, (bytes, count), pages): checked against model and CLI
        for row in FIXED:
            name, mode, first, second, read_sep, result_sep, whole, case_flag = row[:8]
            want, want_count = row[8:10]
            # The cases worked out by hand before lists were judged pin the reading of old,
            # which --encoding=utf-8 keeps.
            encoding = row[10] if len(row) > 10 else "utf-8"
            order = row[11] if len(row) > 11 else None
            case = Case(mode, first, second, read_sep, result_sep, bool(whole), case_flag,
                        encoding=encoding, order=order)
            pages = (None, None)
            hand = (BOM + want, want_count)
            if encoding is None and mode == 4:
                # The model is told the code page the program judged; the hand-worked bytes
                # say whether that was right.
                got = run_cli(cli, case, workdir)
                pages = case.judged_pages(workdir, got[3])
            hand_worked.append((name, case, hand, pages))
        for row in FIXED_RULES:
            name, mode, first, second, read_sep, result_sep, whole, case_flag = row[:8]
            trim, fold_yo, want, want_count = row[8:12]
            case = Case(mode, first, second, read_sep, result_sep, bool(whole), case_flag,
                        encoding="utf-8", trim=trim, fold_yo=fold_yo)
            hand_worked.append((name, case, (BOM + want, want_count), (None, None)))
        shorts = {}
        for name, mode, first, second, options, want, want_count in FIXED_COLUMNS:
            options = dict(options)
            shorts[name] = options.pop("short", None)
            case = Case(mode, first, second, result_sep=options.pop("result_sep", ","),
                        encoding=options.pop("encoding", "utf-8"), **options)
            hand = REFUSED if want is None else (BOM + want, want_count)
            hand_worked.append((name, case, hand, (None, None)))
        for name, case, hand, pages in hand_worked:
            if case.expected(pages) != hand:
                print("MODEL DISAGREES with the hand-worked case %r: model %r, hand %r"
                      % (name, case.expected(pages), hand))
                failed += 1
                continue
            if shorts.get(name) is not None and case.short_rows(pages) != shorts[name]:
                print("MODEL DISAGREES with the hand-worked case %r: rows without the field %r, "
                      "hand %r" % (name, case.short_rows(pages), shorts[name]))
                failed += 1
                continue
            if case.column is not None and not columns:
                skipped += 1
                continue
            for variant in (case, case.copy(bom=False, to_file=True, stdin="first")):
                problem = mismatch(cli, variant, workdir)
                if problem:
                    report("fixed case %r" % name, variant, problem, workdir)
                else:
                    passed += 1
        # /proc files report a size of 0 and hold more; standard input redirected from one
        # must read exactly what cat gives (an earlier reader trusted the size and overflowed).
        for path in ("/proc/filesystems", "/proc/self/mountinfo", "/proc/kallsyms"):
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            want = model.run(2, data, b"", "\\r\\n", "\\r\\n")[0]
            with open(path, "rb") as f:
                proc = subprocess.run([cli, "dedupe", "-"], stdin=f, capture_output=True, env=ENV,
                                      timeout=120)
            if proc.returncode == 0 and proc.stdout == want:
                passed += 1
            else:
                failed += 1
                print("MISMATCH %s on standard input: exit status %d, %d bytes, expected %d"
                      % (path, proc.returncode, len(proc.stdout), len(want)))
        rng = random.Random(seed)
        for number in range(count):
            case = random_case(rng)
            if case.column is not None and not columns:
                skipped += 1
                continue
            problem = mismatch(cli, case, workdir)
            if problem:
                report("random case %d" % number, case, problem, workdir)
            else:
                passed += 1
    if failed > MAX_REPORTED:
        print("(only the first %d mismatches are shown)" % MAX_REPORTED)
    print("%d passed, %d failed" % (passed, failed) +
          (", %d skipped" % skipped if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
