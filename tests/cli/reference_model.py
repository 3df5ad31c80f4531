"""A deliberately plain model of what one run of Listwise produces.

Written independently of the C++ engine so that the differential test has something to
disagree with. Texts are Python str objects in which every character stands for one 16-bit
unit (lone surrogates included), so lengths, slices and searches count units exactly as the
engine does.
"""

import ctypes
import ctypes.util
import locale
import re

SLOT_COUNT = 512
MODES = ["only-in-second", "in-both", "dedupe", "count", "merge", "only-in-first", "union",
         "symmetric", "duplicates"]
# The modes that read SECOND.
TWO_LISTS = (0, 1, 4, 5, 6, 7)

# ---------------------------------------------------------------------------------------------
# Case folding: one unit at a time through the C library's towlower under a UTF-8 locale, the
# low 16 bits of the answer kept. The table is built once; the CLI must run under the same
# locale (LC_ALL=C.UTF-8) for the comparison to mean anything.

_lower_table = None


def _build_lower_table():
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    libc.setlocale.restype = ctypes.c_char_p
    libc.setlocale.argtypes = [ctypes.c_int, ctypes.c_char_p]
    if libc.setlocale(locale.LC_ALL, b"C.UTF-8") is None:
        raise RuntimeError("the locale C.UTF-8 is not available")
    libc.towlower.restype = ctypes.c_uint32
    libc.towlower.argtypes = [ctypes.c_uint32]
    table = {}
    for unit in range(0x10000):
        lowered = libc.towlower(unit) & 0xFFFF
        if lowered != unit:
            table[unit] = lowered
    return table


def fold(text):
    global _lower_table
    if _lower_table is None:
        _lower_table = _build_lower_table()
    return text.translate(_lower_table)


# ---------------------------------------------------------------------------------------------
# Reading a source file: byte-order mark, then the decoder the mark names.


def detect_bom(data):
    """Returns (format name, offset after the mark)."""
    if len(data) >= 4 and data[:4] == b"\xff\xfe\x00\x00":
        return "utf32le", 4
    if len(data) >= 4 and data[:4] == b"\x00\x00\xfe\xff":
        return "utf32be", 4
    if data[:2] == b"\xff\xfe":
        return "utf16le", 2
    if len(data) >= 3 and data[:3] == b"\xef\xbb\xbf":
        return "utf8", 3
    if data[:2] == b"\xfe\xff":
        return "utf16be", 2
    # No mark (also fewer than 2 bytes): the engine reads such a file as UTF-8.
    return "utf8", 0


def decode_utf16(data, byteorder):
    units = []
    for i in range(0, len(data) - 1, 2):  # a lone last byte is dropped
        unit = int.from_bytes(data[i:i + 2], byteorder)
        if unit == 0:
            break
        units.append(chr(unit))
    return "".join(units)


def decode_utf32(data, byteorder):
    units = []
    for i in range(0, len(data) - 3, 4):  # an incomplete last group is dropped
        value = int.from_bytes(data[i:i + 4], byteorder)
        if value == 0:
            break
        if value > 0x10FFFF or 0xD800 <= value <= 0xDFFF:
            units.append("?")
        elif value > 0xFFFF:
            value -= 0x10000
            units.append(chr(0xD800 + (value >> 10)) + chr(0xDC00 + (value & 0x3FF)))
        else:
            units.append(chr(value))
    return "".join(units)


def utf8_group_bytes(data):
    """Stage 1: groups by lead byte, "?" for a byte that cannot lead, an incomplete final group
    dropped, the whole cut at its first zero byte."""
    out = bytearray()
    i = 0
    while i < len(data):
        lead = data[i]
        if lead < 0x80:
            size = 1
        elif 0xC0 <= lead <= 0xDF:
            size = 2
        elif 0xE0 <= lead <= 0xEF:
            size = 3
        elif 0xF0 <= lead <= 0xF7:
            size = 4
        else:
            out.append(0x3F)
            i += 1
            continue
        if i + size > len(data):
            break
        out += data[i:i + size]
        i += size
        if lead == 0:
            break
    zero = out.find(0)
    return bytes(out if zero < 0 else out[:zero])


def utf8_to_units(data):
    """Stage 2: the byte string (no zero inside) plus its terminating zero, left to right."""
    src = bytes(data) + b"\x00"
    units = []
    i = 0
    while i < len(src):
        lead = src[i]
        if lead < 0x80:
            if lead == 0:
                break
            units.append(chr(lead))
            i += 1
            continue
        if lead <= 0xBF or lead >= 0xF8:
            break
        if lead <= 0xDF:
            value, need = lead & 0x1F, 1
        elif lead <= 0xEF:
            value, need = lead & 0x0F, 2
        else:
            value, need = lead & 0x07, 3
        if len(src) - (i + 1) < need:
            break
        i += 1
        ended = False
        while need > 0:
            byte = src[i]
            if byte & 0xC0 != 0x80:
                # Not a continuation: the value so far stands, the byte is skipped. When the
                # skipped byte is the terminating zero there is nothing after it to convert.
                i += 1
                ended = byte == 0
                break
            value = (value << 6) | (byte & 0x3F)
            need -= 1
            i += 1
        if value == 0:
            break
        if value > 0x10FFFF:
            break
        if value > 0xFFFF:
            value -= 0x10000
            units.append(chr(0xD800 + (value >> 10)))
            units.append(chr(0xDC00 + (value & 0x3FF)))
        else:
            units.append(chr(value))
        if ended:
            break
    return "".join(units)


# Sources without a mark are judged by their bytes (the caller may name the encoding instead).
# The model judges everything but which code page a text is in: that heuristic is the program's
# own, and the caller hands the page it named in its notice.

PAGE_CODECS = {"Windows-1251": "cp1251", "KOI8-R": "koi8_r", "CP866": "cp866",
               "Windows-1252": "cp1252", "Latin-1": "latin-1"}
# --encoding names: (kind, code page)
NAMED_ENCODINGS = {"utf-8": ("lenient", None), "utf-16le": ("utf16le", None),
                   "utf-16be": ("utf16be", None), "windows-1251": ("codepage", "Windows-1251"),
                   "koi8-r": ("codepage", "KOI8-R"), "cp866": ("codepage", "CP866"),
                   "windows-1252": ("codepage", "Windows-1252"), "latin1": ("codepage", "Latin-1")}
JUDGED_BYTES = 65536
LINE_PIECE = 65536


def code_page_text(data, page):
    """Every byte a character: ASCII below 80, the code page above; a byte the code page leaves
    undefined stands for the character of its own value."""
    codec = PAGE_CODECS[page]
    out = []
    for b in data:
        if b < 0x80:
            out.append(chr(b))
        else:
            try:
                out.append(bytes([b]).decode(codec))
            except UnicodeDecodeError:
                out.append(chr(b))
    return "".join(out)


UTF16_JUDGED = 65536


def utf16_order(head):
    """"utf16le", "utf16be" or None: whether the first 64 KB read as UTF-16 text in one byte
    order. Text holds no zero unit, no control but tab, LF, VT, FF and CR, no DEL or C1, no
    lone surrogate, no private-use or non-character unit (one in 64 is forgiven); its spaces and
    line ends have a zero high byte, few of its letters a zero low byte, and its line ends are
    no line ends in the other order."""
    head = head[:UTF16_JUDGED]
    if len(head) % 2:
        head = head[:-1]

    def line_end_count(order):
        return sum(1 for i in range(0, len(head), 2)
                   if int.from_bytes(head[i:i + 2], order) in (10, 13))

    def claim(order, other):
        units = [int.from_bytes(head[i:i + 2], order) for i in range(0, len(head), 2)]
        foreign = line_ends = high_zeros = low_zeros = 0
        k = 0
        while k < len(units):
            u = units[k]
            if 0xD800 <= u <= 0xDBFF:
                if k + 1 < len(units) and 0xDC00 <= units[k + 1] <= 0xDFFF:
                    k += 2
                    continue
                if k + 1 < len(units):
                    foreign += 1
            elif u == 0 or (u < 0x20 and u not in (9, 10, 11, 12, 13)) or 0x7F <= u < 0xA0:
                foreign += 1
            elif 0xDC00 <= u <= 0xF8FF or u >= 0xFFFE:
                foreign += 1
            if u in (10, 13):
                line_ends += 1
            if u != 0 and u < 0x100:
                high_zeros += 1
            if u >= 0x100 and u & 0xFF == 0:
                low_zeros += 1
            k += 1
        if high_zeros < 2 or foreign * 64 > len(units):
            return None
        if line_ends and (high_zeros > low_zeros or line_end_count(other) == 0):
            return line_ends * 4 + high_zeros - low_zeros
        if high_zeros * 64 >= len(units) and low_zeros * 16 <= high_zeros:
            return line_ends * 4 + high_zeros - low_zeros
        return None

    little, big = claim("little", "big"), claim("big", "little")
    if little is not None and (big is None or little >= big):
        return "utf16le"
    return "utf16be" if big is not None else None


def split_lines(data):
    """Lines with their line end (LF, CR, or the CR of a CR LF, its LF a line of its own)."""
    return re.findall(rb"[^\r\n]*[\r\n]|[^\r\n]+$", data)


def first_malformed(data):
    try:
        data.decode("utf-8", "strict")
        return -1
    except UnicodeDecodeError as error:
        return error.start


def well_formed(data):
    return first_malformed(data) < 0


def cut_character_dropped(line):
    """The line without a UTF-8 character that its end cuts short."""
    for back in range(1, min(3, len(line)) + 1):
        c = line[-back]
        if c < 0x80:
            break
        if c < 0xC0:
            continue
        need = 4 if c >= 0xF0 else 3 if c >= 0xE0 else 2
        return line[:-back] if need > back else line
    return line


def judge(data):
    """How a source without a mark reads: "utf16le", "utf16be", "utf8", "codepage" (every byte
    in one code page) or "mixed" (each line well-formed UTF-8 as such, others in the code
    page). Judged from the 64 KB that start at the first byte above 7F."""
    order = utf16_order(data)
    if order:
        return order
    zero = data.find(0)
    text = data if zero < 0 else data[:zero]
    first_high = next((i for i, b in enumerate(text) if b >= 0x80), -1)
    if first_high < 0:
        return "utf8"
    window = text[first_high:first_high + JUDGED_BYTES]
    at_end = zero >= 0 and zero < first_high + JUDGED_BYTES or \
        len(data) - first_high < JUDGED_BYTES
    valid = malformed = 0
    lines = re.split(rb"[\r\n]", window)
    for k, line in enumerate(lines):
        if k == len(lines) - 1 and not at_end:
            line = cut_character_dropped(line)
        if any(b >= 0x80 for b in line):
            if well_formed(line):
                valid += 1
            else:
                malformed += 1
    if malformed:
        return "mixed" if valid >= malformed else "codepage"
    return "utf8" if first_malformed(text) < 0 else "mixed"


def mixed_text(data, page):
    """Each line on its own; a line longer than LINE_PIECE in pieces that end between UTF-8
    characters."""
    out = []
    for line in split_lines(data):
        while line:
            piece = line if len(line) <= LINE_PIECE else cut_character_dropped(line[:LINE_PIECE])
            out.append(utf8_to_units(piece) if well_formed(piece) else code_page_text(piece, page))
            line = line[len(piece):]
    return "".join(out)


def read_source(data, encoding=None, page=None, piped=False):
    """Bytes of a source file to (the text the engine works on, the notices told about it).
    `encoding` is the --encoding name when one was given; `page` the code page that the
    program judged a source without a mark to be in (its notice names it)."""
    fmt, offset = detect_bom(data)
    rest = data[offset:]
    named = None
    if offset == 0:
        if encoding is not None:
            kind, page = NAMED_ENCODINGS[encoding]
        else:
            kind = judge(rest)
            if kind == "utf8":
                kind = "lenient"  # well-formed: the reading of old gives the same
            elif kind in ("utf16le", "utf16be"):
                named = "UTF-16LE" if kind == "utf16le" else "UTF-16BE"
            else:
                named = page if kind == "codepage" else "UTF-8 и " + page
    else:
        kind = "lenient" if fmt == "utf8" else fmt
    phrases = ["прочитан как " + named] if named else []
    if kind in ("utf16le", "utf16be"):
        text = decode_utf16(rest, "little" if kind == "utf16le" else "big")
        unit = 2
    elif kind in ("utf32le", "utf32be"):
        text = decode_utf32(rest, "little" if kind == "utf32le" else "big")
        unit = 4
    else:
        unit = 1
        zero = rest.find(0)
        plain = rest if zero < 0 else rest[:zero]
        if kind == "codepage":
            text = code_page_text(plain, page)
        elif kind == "mixed":
            text = mixed_text(plain, page)
        else:
            text = utf8_to_units(utf8_group_bytes(rest))
            if not well_formed(plain):
                phrases.append("не в UTF-8")
    zero = next((i for i in range(0, len(rest) - unit + 1, unit)
                 if rest[i:i + unit] == bytes(unit)), None)
    if zero is not None:
        read = offset + zero
        # Read once, a pipe is read no further than 64 KB or a little past its zero.
        known = not piped or len(data) <= max(read + unit + 3, UTF16_JUDGED)
        if known:
            phrases.append("похож на двоичный: прочитано %s из %s"
                           % size_texts(read, len(data)))
        else:
            phrases.append("похож на двоичный: прочитано %s до нулевого байта" % size_text(read))
    return text, phrases


def size_text(n):
    """A size as listwise-cli tells it in Russian: "7 Б", "1,5 КБ", "138 КБ", never rounded up."""
    if n < 1024:
        return "%d Б" % n
    for unit, scale in (("КБ", 1 << 10), ("МБ", 1 << 20), ("ГБ", 1 << 30), ("ТБ", 1 << 40)):
        if n < scale * 1024 or unit == "ТБ":
            tenths = n * 10 // scale
            if tenths < 100 and tenths % 10:
                return "%d,%d %s" % (tenths // 10, tenths % 10, unit)
            return "%d %s" % (tenths // 10, unit)


def size_texts(read, size):
    """The part read and the whole, in bytes when rounding would make them look the same."""
    if size_text(read) == size_text(size) and read != size:
        return "%d Б" % read, "%d Б" % size
    return size_text(read), size_text(size)


def decode_file(data, encoding=None, page=None):
    """Bytes of a source file to the text the engine works on."""
    return read_source(data, encoding, page)[0]


def source_notices(data, encoding=None, page=None, piped=False):
    """What is told about a source file besides its text, in the order it is told; `piped`
    when it comes through standard input."""
    return read_source(data, encoding, page, piped)[1]


def text_from_arg(arg_bytes):
    """Command-line texts are UTF-8 and go through the stage 2 conversion alone."""
    zero = arg_bytes.find(0)
    return utf8_to_units(arg_bytes if zero < 0 else arg_bytes[:zero])


# ---------------------------------------------------------------------------------------------
# Writing: UTF-8 in which every unit that is no half of a surrogate pair, lone surrogates
# included, is written on its own in three bytes.


def encode_utf8(text):
    out = bytearray()
    i = 0
    while i < len(text):
        unit = ord(text[i])
        if unit < 0x80:
            out.append(unit)
        elif unit < 0x800:
            out += bytes([0xC0 | (unit >> 6), 0x80 | (unit & 0x3F)])
        elif 0xD800 <= unit <= 0xDBFF and i + 1 < len(text) and \
                0xDC00 <= ord(text[i + 1]) <= 0xDFFF:
            value = ((unit & 0x3FF) << 10) + (ord(text[i + 1]) & 0x3FF) + 0x10000
            out += bytes([0xF0 | (value >> 18), 0x80 | ((value >> 12) & 0x3F),
                          0x80 | ((value >> 6) & 0x3F), 0x80 | (value & 0x3F)])
            i += 1
        else:
            out += bytes([0xE0 | (unit >> 12), 0x80 | ((unit >> 6) & 0x3F),
                          0x80 | (unit & 0x3F)])
        i += 1
    return bytes(out)


# ---------------------------------------------------------------------------------------------
# Separators and splitting.


def expand_escapes(typed):
    for escape, unit in (("\\r", "\r"), ("\\n", "\n"), ("\\t", "\t"), ("\\f", "\f")):
        typed = typed.replace(escape, unit)
    return typed


def split_whole(text, separator):
    # str.split scans left to right without overlap and keeps every empty piece: k
    # occurrences give k + 1 items, as the whole-string rule does.
    return text.split(separator)


def split_chars(text, separator):
    units = set(separator)
    items = []
    start = 0
    for i, unit in enumerate(text):
        if unit in units:
            if i > start:
                items.append(text[start:i])
            start = i + 1
    items.append(text[start:])
    return items


def split(text, separator, whole):
    return split_whole(text, separator) if whole else split_chars(text, separator)


# ---------------------------------------------------------------------------------------------
# The table: only its walk order matters here.


def string_hash(key):
    h = 0
    for unit in key:
        h = (h * 65599 + ord(unit)) & 0xFFFFFFFF
    return h


class Table:
    """Keys in the walk order of 512 chains: ascending slot, newest first within a slot; a key
    added again keeps the place it got the first time."""

    def __init__(self):
        self.values = {}
        self.birth = {}
        self.clock = 0

    def add(self, key, value=None):
        if key not in self.birth:
            self.clock += 1
            self.birth[key] = self.clock
        self.values[key] = value

    def remove(self, key):
        self.values.pop(key, None)
        self.birth.pop(key, None)

    def __contains__(self, key):
        return key in self.values

    def __len__(self):
        return len(self.values)

    def walk(self):
        order = sorted(self.values, key=lambda k: (string_hash(k) % SLOT_COUNT, -self.birth[k]))
        return [(k, self.values[k]) for k in order]


# ---------------------------------------------------------------------------------------------
# Items and keys: --trim drops white space at both ends of every item; the key an item is
# compared by is the item, lowered with -i, with ё as е and Ё as Е with --fold-yo.

WHITE_SPACE = set("\t\n\v\f\r \u0085\u00a0\u1680\u2028\u2029\u202f\u205f\u3000"
                  "\u200b\ufeff") | {chr(u) for u in range(0x2000, 0x200B)}
YO = {ord("ё"): "е", ord("Ё"): "Е"}


def trimmed(item):
    start, end = 0, len(item)
    while start < end and item[start] in WHITE_SPACE:
        start += 1
    while end > start and item[end - 1] in WHITE_SPACE:
        end -= 1
    return item[start:end]


class Rules:
    def __init__(self, case_flag, trim=False, fold_yo=False):
        self.case_flag = case_flag
        self.trim = trim
        self.fold_yo = fold_yo

    def items(self, text, separator, whole):
        pieces = split(text, separator, whole)
        return [trimmed(p) for p in pieces] if self.trim else pieces

    def key(self, item):
        if not self.case_flag:
            item = fold(item)
        return item.translate(YO) if self.fold_yo else item

    def folds(self):
        return not self.case_flag or self.fold_yo


def split_to_table(items, rules):
    table = Table()
    for item in items:
        if not rules.folds():
            table.add(item)
        else:
            table.add(rules.key(item), item)  # the last occurrence wins the value
    return table


def shown(table, rules):
    """The entries in walk order as they are written: keys, or with folded keys their values."""
    return [(v if rules.folds() else k) for k, v in table.walk()]


# ---------------------------------------------------------------------------------------------
# The operations. The table operations return their lines in the table's walk, each as
# (text, item, first, count): the item is what code point order compares, first is where the
# line's key first stands, (list number, item number), and count is its counter (0 for the
# operations that count nothing).


def first_places(items, source, rules):
    places = {}
    for i, item in enumerate(items):
        places.setdefault(rules.key(item), (source, i))
    return places


def table_lines(table, rules, places, keep=lambda key: True):
    return [(piece, piece, places[key], 0)
            for (key, _), piece in zip(table.walk(), shown(table, rules)) if keep(key)]


def only_in_one(items, other_items, rules, source):
    """The items of `items` that `other_items` lack; the first spelling of each key, filed under
    that spelling."""
    present = split_to_table(other_items, rules)
    present.add("")
    found = Table()
    found_keys = set()
    for item in items:
        key = rules.key(item)
        if key not in present and key not in found_keys:
            found_keys.add(key)
            found.add(item)
    places = first_places(items, source, rules)
    return [(k, k, places[rules.key(k)], 0) for k, _ in found.walk()]


def in_both(first, second, rules):
    table = split_to_table(first, rules)
    wanted = {rules.key(item) for item in second}
    for key in list(table.values):
        if key not in wanted:
            table.remove(key)
    return table_lines(table, rules, first_places(first, 0, rules))


def deduplicate(first, rules):
    table = split_to_table(first, rules)
    table.remove("")
    return table_lines(table, rules, first_places(first, 0, rules))


def count_unique(first, rules):
    table = Table()
    for item in first:
        key = rules.key(item)
        table.add(key, (table.values[key] if key in table else 0) + 1)
    places = first_places(first, 0, rules)
    return [("%d %s" % (count, key), key, places[key], count) for key, count in table.walk()]


def code_points(text):
    """The code points of a text of units: a surrogate pair is one, a lone surrogate its own."""
    points = []
    i = 0
    while i < len(text):
        unit = ord(text[i])
        if 0xD800 <= unit <= 0xDBFF and i + 1 < len(text) and 0xDC00 <= ord(text[i + 1]) <= 0xDFFF:
            points.append(0x10000 + ((unit - 0xD800) << 10) + (ord(text[i + 1]) - 0xDC00))
            i += 2
        else:
            points.append(unit)
            i += 1
    return points


ORDERS = ["table", "first", "sorted", "count"]


def put_in_order(lines, order):
    """table: the walk as it is; first: where the keys first stand, the first list's first;
    sorted: code point order of the items; count: the highest counter first. Ties go by first
    place."""
    if order == "first":
        return sorted(lines, key=lambda line: line[2])
    if order == "sorted":
        return sorted(lines, key=lambda line: (code_points(line[1]), line[2]))
    if order == "count":
        return sorted(lines, key=lambda line: (-line[3], line[2]))
    return lines


def duplicates(first, rules):
    """The items whose key occurs more than once, each shown as dedupe shows it."""
    table = split_to_table(first, rules)
    times = {}
    for item in first:
        times[rules.key(item)] = times.get(rules.key(item), 0) + 1
    places = first_places(first, 0, rules)
    return [(piece, piece, places[key], times[key])
            for (key, _), piece in zip(table.walk(), shown(table, rules))
            if key != "" and times[key] > 1]


def in_either(first, second, rules, in_one_only):
    """union, and with in_one_only symmetric: the keys of both lists, the first's brought first;
    each shown as its last occurrence in the list that brought it."""
    table = split_to_table(first, rules)
    from_first = set(table.values)
    in_both_lists = set()
    for item in second:
        key = rules.key(item)
        if key in from_first:
            in_both_lists.add(key)
        elif rules.folds():
            table.add(key, item)
        else:
            table.add(key)
    places = first_places(second, 1, rules)
    places.update(first_places(first, 0, rules))
    return table_lines(table, rules, places,
                       lambda key: key != "" and not (in_one_only and key in in_both_lists))


def merge(left, right, result_sep):
    pairs = min(len(left), len(right))
    lines = [left[i] + result_sep + right[i] + "\r\n" for i in range(pairs)]
    longer = left if len(left) > len(right) else right
    lines += [item + "\r\n" for item in longer[pairs:]]
    return "".join(lines), pairs


def operation_lines(mode, a, b, rules):
    """The lines of a table operation (every mode but merge) on the items of the two lists."""
    if mode == 0:
        return only_in_one(b, a, rules, 1)
    if mode == 1:
        return in_both(a, b, rules)
    if mode == 2:
        return deduplicate(a, rules)
    if mode == 3:
        return count_unique(a, rules)
    if mode == 5:
        return only_in_one(a, b, rules, 0)
    if mode in (6, 7):
        return in_either(a, b, rules, mode == 7)
    return duplicates(a, rules)


def run_operation(mode, first, second, read_sep, result_sep, whole, case_flag, trim=False,
                  fold_yo=False, order="table"):
    """mode 0..8, separators already expanded; returns (trimmed result text, found count).
    Merge keeps its lines as they stand whatever the order."""
    rules = Rules(case_flag, trim, fold_yo)
    a = rules.items(first, read_sep, whole)
    b = rules.items(second, read_sep, whole)
    if mode == 4:
        result, count = merge(a, b, result_sep)
        return result[:max(len(result) - 2, 0)], count
    lines = operation_lines(mode, a, b, rules)
    return result_sep.join(line[0] for line in put_in_order(lines, order)), len(lines)



# ---------------------------------------------------------------------------------------------
# Lists as tables (--column, --field-sep, --header, --rows). A list is cut into rows at line
# ends outside quotes and each row into fields at the field separator outside quotes; the items
# are one field of every row. All of it works on the decoded text.


class Refused(Exception):
    """The run stops with exit status 2 and writes nothing."""


SEPARATOR_CANDIDATES = [";", ",", "\t"]
SAMPLED_ROWS = 100


def closing_quote(text, opening):
    """Where the quoted field that opens at `opening` closes: the next quote that no quote
    follows. -1 when the list ends first: then the opening quote is an ordinary character."""
    at = opening + 1
    while True:
        at = text.find('"', at)
        if at < 0:
            return -1
        if text[at + 1:at + 2] != '"':
            return at
        at += 2


def cut_rows(text, separator):
    """The rows of a text, each as (its text as it stands, its field values); `separator` None
    leaves every row one field. Blank lines are no rows."""
    rows = []
    at = 0
    while at < len(text):
        if text[at] in "\r\n":
            at += 1
            continue
        start = at
        fields = []
        while True:
            value = ""
            close = closing_quote(text, at) if text[at:at + 1] == '"' else -1
            if close >= 0:
                value = text[at + 1:close].replace('""', '"')
                at = close + 1
            end = at
            while end < len(text) and text[end] != separator and text[end] not in "\r\n":
                end += 1
            fields.append(value + text[at:end])
            at = end
            if at < len(text) and text[at] == separator:
                at += 1
                continue
            break
        rows.append((text[start:at], fields))
    return rows


def judged_separator(text):
    """The field separator of a list given none: the candidate that cuts the first rows into
    the same number (at least two) of fields, the most fields winning; failing that, the one
    under which most rows have as many fields as the first; None when none cuts the first."""
    widths = {c: [len(fields) for _, fields in cut_rows(text, c)[:SAMPLED_ROWS]]
              for c in SEPARATOR_CANDIDATES}
    cutting = [c for c in SEPARATOR_CANDIDATES if widths[c] and widths[c][0] >= 2]
    consistent = [c for c in cutting if len(set(widths[c])) == 1]
    if consistent:
        return max(consistent, key=lambda c: widths[c][0])  # max keeps the first of a tie
    if cutting:
        return max(cutting, key=lambda c: widths[c].count(widths[c][0]))
    return None


def column_named(names, name):
    """The index of the header field that holds `name`: the first equal to it, else the first
    equal to it trimmed and case-folded; None when no field holds it."""
    for k, value in enumerate(names):
        if value == name:
            return k
    wanted = fold(trimmed(name))
    for k, value in enumerate(names):
        if fold(trimmed(value)) == wanted:
            return k
    return None


class ListTable:
    """One list read as a table: its separator, header (the field values, or None), and for
    every row after it the item and the row's text; `short` counts the rows that lack the
    field."""

    def __init__(self, text, column, separator, header, rules, list_name):
        self.separator = judged_separator(text) if separator is None else separator
        rows = cut_rows(text, self.separator)
        self.header_row = None
        self.header = None
        if header:
            self.header_row, self.header = rows[0] if rows else (None, [])
            rows = rows[1:]
        if isinstance(column, int):
            index = column - 1
        else:
            index = column_named(self.header, column)
            if index is None:
                raise Refused("no column %r in %s" % (column, list_name))
        self.items = [fields[index] if index < len(fields) else "" for _, fields in rows]
        if rules.trim:
            self.items = [trimmed(item) for item in self.items]
        self.rows = [row for row, _ in rows]
        self.short = sum(1 for _, fields in rows if index >= len(fields))


def shown_rows(lines, mode, a, b, first_table, second_table, rules):
    """The lines with each item's row in place of the item. The key of a line is that of the
    item at its first place; the row is that of the occurrence the mode keeps: the first in
    the list for only-in-second and only-in-first, else the last in the list that brought
    the key."""
    items = (a, b)
    rows = (first_table.rows, second_table.rows if second_table else [])
    last = ({}, {})
    for source in (0, 1):
        for index, item in enumerate(items[source]):
            last[source][rules.key(item)] = index
    out = []
    for _, _, first, count in lines:
        source, index = first
        if mode not in (0, 5):
            index = last[source][rules.key(items[source][index])]
        out.append((rows[source][index], rows[source][index], first, count))
    return out


def parsed_column(typed):
    """--column as typed: a number when it is all digits, else a name."""
    if re.fullmatch("[0-9]+", typed):
        if int(typed) == 0:
            raise Refused("column 0")
        return int(typed)
    if typed == "":
        raise Refused("empty column")
    return text_from_arg(typed.encode("utf-8", "surrogatepass"))


def parsed_field_sep(typed):
    separator = "\t" if typed == "\\t" else typed
    if len(separator) != 1 or ord(separator) > 0x7F or separator in '"\r\n':
        raise Refused("bad field separator %r" % typed)
    return separator


def tables(mode, first_bytes, second_bytes, column, field_sep, header, rows, encoding, pages,
           rules):
    """The lists of a run as tables, (FIRST, SECOND or None), after the checks of the
    options; raises Refused where the run stops."""
    if column is None:
        if field_sep is not None or header or rows:
            raise Refused("a table option without --column")
        return None
    if mode == 4 or (rows and mode == 3):
        raise Refused("%s with --column or --rows" % MODES[mode])
    column = parsed_column(column)
    if isinstance(column, str) and not header:
        raise Refused("a column name without --header")
    separator = None if field_sep is None else parsed_field_sep(field_sep)
    first = ListTable(decode_file(first_bytes, encoding, pages[0]), column, separator, header,
                      rules, "FIRST")
    second = None
    if mode in TWO_LISTS:
        second = ListTable(decode_file(second_bytes, encoding, pages[1]), column, separator,
                           header, rules, "SECOND")
    if rows and mode in (6, 7) and (first.header != second.header or
                                    first.separator != second.separator):
        raise Refused("union or symmetric rows of lists with different headers or separators")
    return first, second


def short_rows(mode, first_bytes, second_bytes, column, field_sep=None, header=False,
               encoding=None, pages=(None, None)):
    """How many rows of each list read lack the field (FIRST's count, then SECOND's when it is
    read)."""
    read = tables(mode, first_bytes, second_bytes, column, field_sep, header, False, encoding,
                  pages, Rules(1))
    return [t.short for t in read if t is not None]


def table_operation(mode, first, second, result_sep, rules, rows, order):
    """The result text and found count of a run on lists read as tables."""
    a = first.items
    b = second.items if second else []
    lines = operation_lines(mode, a, b, rules)
    if rows:
        lines = shown_rows(lines, mode, a, b, first, second, rules)
    written = [line[0] for line in put_in_order(lines, order)]
    header_row = (second if mode == 0 else first).header_row if rows else None
    if header_row is not None:
        written.insert(0, header_row)
    return result_sep.join(written), len(lines)


def run(mode, first_bytes, second_bytes, typed_read_sep, typed_result_sep,
        whole=False, case_flag=1, bom=True, encoding=None, pages=(None, None), trim=False,
        fold_yo=False, order="table", column=None, field_sep=None, header=False, rows=False):
    """Whole run from file bytes and typed separators (str) to the result file's bytes.

    The separators are given as typed on the command line (str, sent as UTF-8). Returns
    (bytes, found count). The caller has checked the inputs (non-empty separator). `column`
    and `field_sep` are given as typed, or None; with a column the read separator and `whole`
    play no part (rows end at line ends). Raises Refused where the run stops with exit
    status 2."""
    read_sep = expand_escapes(text_from_arg(typed_read_sep.encode("utf-8", "surrogatepass")))
    result_sep = expand_escapes(text_from_arg(typed_result_sep.encode("utf-8", "surrogatepass")))
    rules = Rules(case_flag, trim, fold_yo)
    read = tables(mode, first_bytes, second_bytes, column, field_sep, header, rows, encoding,
                  pages, rules)
    if read:
        text, count = table_operation(mode, read[0], read[1], result_sep, rules, rows, order)
    else:
        first = decode_file(first_bytes, encoding, pages[0])
        second = decode_file(second_bytes, encoding, pages[1]) if mode in TWO_LISTS else ""
        text, count = run_operation(mode, first, second, read_sep, result_sep, whole,
                                    case_flag, trim, fold_yo, order)
    return (b"\xef\xbb\xbf" if bom else b"") + encode_utf8(text), count
