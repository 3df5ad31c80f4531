// The file formats' byte decoders, over bytes already in memory: what a source's bytes mean as
// text, apart from how they were read.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/text.h"

enum TextFormat : int {
  FormatUtf8 = 2,
  FormatUtf16BE = 4,
  FormatUtf32LE = 5,
  FormatUtf32BE = 6,
  FormatSingleByte = 24,
  FormatUtf16LE = 25,
};

struct ByteOrderMark {
  TextFormat format = FormatSingleByte;  // FormatSingleByte when the bytes start with no mark
  size_t length = 0;
};
// The mark the bytes start with. FF FE 00 00 is taken for UTF-32LE, never for UTF-16LE followed
// by a zero character.
ByteOrderMark FindByteOrderMark(const unsigned char* bytes, size_t count);
// The mark written before a text in that format; empty for formats that have none.
std::string_view ByteOrderMarkBytes(TextFormat format);

// Bytes per code unit: where a zero unit may stand, and how much a character needs at least.
size_t FormatUnitSize(TextFormat format);
// Bytes the UTF-8 grouping looks at past a zero: a group cut short by it must be seen as such.
size_t FormatLookahead(TextFormat format);

// Offset of the first zero unit of `unit` bytes in bytes[from, count), units starting at
// multiples of `unit`; the end of the last whole unit when there is none.
size_t FindZeroUnit(const unsigned char* bytes, size_t from, size_t count, size_t unit);

// UTF-8 stage 1: groups the bytes by their lead byte without checking the continuation bytes,
// turns a byte that cannot lead a group into "?", drops a group cut off by the end and ends the
// byte string at its first zero; returns the grouped length. Its output is never longer than its
// input, so it works in place. Clears well_formed when the bytes before the first zero are not
// well-formed UTF-8.
size_t GroupUtf8InPlace(unsigned char* bytes, size_t count, bool& well_formed);

// The text of bytes[0, count) in the format, up to its first zero character. UTF-8 is grouped in
// place first, so the bytes are changed. well_formed is cleared when UTF-8 bytes are not
// well-formed; the other formats leave it alone.
Text DecodeBytes(unsigned char* bytes, size_t count, TextFormat format, bool& well_formed);
