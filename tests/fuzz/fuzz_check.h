// What the fuzz targets share: a check that stops the run loudly, and a mapping from bytes to
// 16-bit text that reaches the interesting units (Cyrillic and Latin-1 letters in both cases,
// surrogates) with single bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/text.h"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// The byte 0xFF never becomes a unit: targets use it to cut their input into fields.
inline constexpr uint8_t kFieldEnd = 0xFF;

inline char16_t UnitFromByte(uint8_t byte) {
  if (byte == 0) return u'a';  // a text holds no unit 0
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return static_cast<char16_t>(0x0400 + (byte - 0x80));  // Ё..п and more
  if (byte < 0xE0) return static_cast<char16_t>(0x00C0 + (byte - 0xC0));  // À..ß
  if (byte < 0xF0) return static_cast<char16_t>(byte < 0xE8 ? 0xD83D : 0xDE00);
  return static_cast<char16_t>(0x0130 + (byte - 0xF0));  // İ ı Ĳ ĳ ...
}

// The input cut at every kFieldEnd byte; fields past the end are empty.
inline std::vector<Text> TextFields(const uint8_t* data, size_t size, size_t count) {
  std::vector<Text> fields(count);
  size_t field = 0;
  for (size_t i = 0; i < size && field < count; ++i) {
    if (data[i] == kFieldEnd)
      ++field;
    else
      fields[field].push_back(UnitFromByte(data[i]));
  }
  return fields;
}
