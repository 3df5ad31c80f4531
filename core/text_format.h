// The formats a file's byte-order mark names, and where the zero unit that ends a text stands.
#pragma once

#include <cstddef>
#include <string_view>

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

// Offset of the first zero unit of `unit` bytes in bytes[from, count), units starting at
// multiples of `unit`; the end of the last whole unit when there is none.
size_t FindZeroUnit(const unsigned char* bytes, size_t from, size_t count, size_t unit);
