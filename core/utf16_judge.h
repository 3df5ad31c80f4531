// Whether the bytes of a source without a byte-order mark are UTF-16, and of which order. Every
// path that reads a source (a file read by offset, a pipe read whole) judges its first bytes with
// this one function, so that the same bytes read the same way however they come.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Utf16Order : uint8_t { None, LittleEndian, BigEndian };

// The bytes at the start of a source that the judgement looks at: room for many lines of
// Chinese, whose line ends are what shows their order.
constexpr size_t kUtf16JudgedBytes = size_t{64} << 10;

// UTF-16 is told by what its text looks like in one order and not in the other:
// - its units hold no zero, no control character but tab, line and page ends, no surrogate
//   without its partner, no private-use or non-character unit (binary data holds many);
// - ASCII characters, spaces and line ends have a zero high byte, while few characters of any
//   script have a zero low byte (一 U+4E00, Ѐ U+0400): so zeros stand mostly at one parity;
// - a text of lines has LF or CR units.
Utf16Order JudgeUtf16(const unsigned char* bytes, size_t n);
