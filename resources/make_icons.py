#!/usr/bin/env python3
"""Turns the text pictures in resources/icons/*.txt into the GIF files resources/*.gif.

Python 3 standard library only; the LZW encoder is our own.

  python3 resources/make_icons.py          rewrite every GIF from its picture
  python3 resources/make_icons.py --check  exit 1 when a committed GIF differs from its picture

A picture file holds lines of the form

  size W H                     logical screen and image size
  entries N                    colour-table entries, a power of two from 4 to 256
  background I                 the screen's background index
  transparent I R G B          the transparent index and the colour its table entry carries
  colour KEY R G B             one opaque colour; indices 0, 1, 2... in the order listed
  picture                      followed by H rows of W cells separated by blanks;
                               a cell made only of dots is transparent

Blank lines and lines starting with '#' are ignored. Unlisted table entries are black.
"""

import pathlib
import struct
import sys

DELAY_HUNDREDTHS = 10


class PictureError(Exception):
    pass


def parse_picture(path):
    width = height = entries = background = None
    transparent = None
    colours = []  # (key, (r, g, b))
    rows = []
    in_picture = False
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = raw.split("#", 1)[0].strip() if not in_picture else raw.strip()
        if not line or line.startswith("#"):
            continue
        if in_picture:
            rows.append(line.split())
            continue
        words = line.split()
        try:
            if words[0] == "size":
                width, height = int(words[1]), int(words[2])
            elif words[0] == "entries":
                entries = int(words[1])
            elif words[0] == "background":
                background = int(words[1])
            elif words[0] == "transparent":
                transparent = (int(words[1]), tuple(int(v) for v in words[2:5]))
            elif words[0] == "colour":
                colours.append((words[1], tuple(int(v) for v in words[2:5])))
            elif words[0] == "picture":
                in_picture = True
            else:
                raise PictureError(f"{path}:{number}: unknown line '{line}'")
        except (IndexError, ValueError):
            raise PictureError(f"{path}:{number}: malformed line '{line}'") from None

    if None in (width, height, entries, background, transparent):
        raise PictureError(f"{path}: size, entries, background and transparent are all required")
    if entries not in (4, 8, 16, 32, 64, 128, 256):
        raise PictureError(f"{path}: entries must be a power of two from 4 to 256")
    if not 1 <= width <= 65535 or not 1 <= height <= 65535:
        raise PictureError(f"{path}: bad size {width}x{height}")
    transparent_index, transparent_rgb = transparent
    if not 0 <= transparent_index < entries or not 0 <= background < entries:
        raise PictureError(f"{path}: transparent and background indices must lie in the table")
    if len(colours) > entries or any(i == transparent_index for i in range(len(colours))):
        raise PictureError(f"{path}: {len(colours)} colours collide with the transparent index")
    for key, rgb in colours:
        if key.strip(".") == "" or len(rgb) != 3 or not all(0 <= v <= 255 for v in rgb):
            raise PictureError(f"{path}: bad colour '{key}'")
    keys = {key: index for index, (key, _) in enumerate(colours)}
    if len(keys) != len(colours):
        raise PictureError(f"{path}: a colour key is listed twice")
    if len(rows) != height or any(len(row) != width for row in rows):
        raise PictureError(f"{path}: the picture must be {height} rows of {width} cells")

    pixels = []
    for y, row in enumerate(rows):
        for x, cell in enumerate(row):
            if cell.strip(".") == "":
                pixels.append(transparent_index)
            elif cell in keys:
                pixels.append(keys[cell])
            else:
                raise PictureError(f"{path}: unknown cell '{cell}' at row {y + 1}, column {x + 1}")
    unused = [key for key, index in keys.items() if index not in set(pixels)]
    if unused:
        raise PictureError(f"{path}: colours listed but not drawn: {' '.join(unused)}")

    table = [(0, 0, 0)] * entries
    for index, (_, rgb) in enumerate(colours):
        table[index] = rgb
    table[transparent_index] = transparent_rgb
    return {
        "width": width,
        "height": height,
        "table": table,
        "background": background,
        "transparent": transparent_index,
        "used": len(colours),
        "pixels": pixels,
    }


def lzw_encode(pixels, min_code_size):
    """The GIF variant of LZW: variable code width from min+1 up to 12 bits, codes packed
    least significant bit first, a clear code at the start and whenever the table fills."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, width):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    width = min_code_size + 1
    next_code = end + 1
    table = {}
    emit(clear, width)
    prefix = None
    for pixel in pixels:
        if prefix is None:
            prefix = pixel
            continue
        extended = (prefix, pixel)
        if extended in table:
            prefix = table[extended]
            continue
        emit(prefix, width)
        if next_code < 4096:
            # The decoder learns each entry one code later than we do, so the width grows
            # only once the entry just made no longer fits the current width.
            if next_code == 1 << width:
                width += 1
            table[extended] = next_code
            next_code += 1
        else:
            emit(clear, width)
            width = min_code_size + 1
            next_code = end + 1
            table = {}
        prefix = pixel
    if prefix is not None:
        emit(prefix, width)
    emit(end, width)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def encode_gif(picture):
    width, height = picture["width"], picture["height"]
    table = picture["table"]
    bits = len(table).bit_length() - 1
    min_code_size = max(2, bits)

    gif = bytearray(b"GIF89a")
    packed = 0x80 | ((bits - 1) << 4) | (bits - 1)  # global table, its size, no sorting
    gif += struct.pack("<HHBBB", width, height, packed, picture["background"], 0)
    for rgb in table:
        gif += bytes(rgb)
    # Graphic Control Extension: disposal 0, no user input, transparency on.
    gif += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, 0x01, DELAY_HUNDREDTHS, picture["transparent"], 0)
    # One image over the whole screen, not interlaced, no local table.
    gif += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
    gif.append(min_code_size)
    data = lzw_encode(picture["pixels"], min_code_size)
    for start in range(0, len(data), 255):
        block = data[start:start + 255]
        gif.append(len(block))
        gif += block
    gif.append(0)
    gif.append(0x3B)
    return bytes(gif)


def main(argv):
    check = "--check" in argv[1:]
    here = pathlib.Path(__file__).resolve().parent
    sources = sorted((here / "icons").glob("*.txt"))
    if not sources:
        print("no pictures in", here / "icons", file=sys.stderr)
        return 1
    stale = []
    for source in sources:
        try:
            picture = parse_picture(source)
        except PictureError as error:
            print(error, file=sys.stderr)
            return 1
        gif = encode_gif(picture)
        target = here / (source.stem + ".gif")
        transparent = picture["pixels"].count(picture["transparent"])
        summary = (f"{target.name}: {picture['width']}x{picture['height']}, "
                   f"{len(picture['table'])} entries, {picture['used']} used, "
                   f"transparent index {picture['transparent']} on {transparent} pixels, "
                   f"{len(gif)} bytes")
        if check:
            if not target.exists() or target.read_bytes() != gif:
                stale.append(target.name)
            continue
        target.write_bytes(gif)
        print(summary)
    if stale:
        print("out of date with their pictures:", " ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
