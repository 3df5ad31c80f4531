// The text UTF-16, UTF-32 and lenient UTF-8 bytes have always read as, written out plainly from
// their rules, for checking the conversions that must keep it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"
#include "core/utf8.h"

// Units up to the first zero unit; a lone last byte is dropped.
inline Text ModelUtf16(std::string_view b, bool big) {
  Text text;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(b[i + (big ? 0 : 1)]);
    const auto lo = static_cast<unsigned char>(b[i + (big ? 1 : 0)]);
    if ((hi | lo) == 0) break;
    text.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  return text;
}

// Characters up to the first zero one, "?" for what is no character; an incomplete last one is
// dropped.
inline Text ModelUtf32(std::string_view b, bool big) {
  Text text;
  for (size_t i = 0; i + 3 < b.size(); i += 4) {
    uint32_t cp = 0;
    for (size_t k = 0; k < 4; ++k)
      cp = cp << 8 | static_cast<unsigned char>(b[i + (big ? k : 3 - k)]);
    if (cp == 0) break;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = u'?';
    if (cp > 0xFFFF) {
      text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(cp));
    }
  }
  return text;
}

// Lenient UTF-8 by its two rules: the bytes grouped by their lead bytes, then the groups decoded
// as the grouping left them, with a zero standing after the last.
inline Text ModelLenientUtf8(std::string_view b, bool& well_formed) {
  auto size_of = [](unsigned char c) -> size_t {
    return c >= 0xC0 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF7 ? 4 : 0;
  };
  std::string g;
  well_formed = true;
  for (size_t i = 0; i < b.size() && b[i] != 0;) {
    const auto c = static_cast<unsigned char>(b[i]);
    const size_t size = size_of(c);
    if (c < 0x80 || size == 0) {
      g.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      well_formed = well_formed && c < 0x80;
      ++i;
      continue;
    }
    if (i + size > b.size()) {
      well_formed = false;
      break;
    }
    const std::string_view group = b.substr(i, size);
    if (group.find('\0') != std::string_view::npos) {
      g.append(group.substr(0, group.find('\0')));
      well_formed = false;
      break;
    }
    well_formed =
        well_formed && IsWellFormedUtf8(reinterpret_cast<const unsigned char*>(group.data()), size);
    g.append(group);
    i += size;
  }
  auto at = [&](size_t k) { return k < g.size() ? static_cast<unsigned char>(g[k]) : 0; };
  auto continues = [&](size_t k) { return (at(k) & 0xC0) == 0x80; };
  Text units;
  for (size_t i = 0; i < g.size();) {
    const unsigned char c = at(i);
    if (c < 0x80) {
      units.push_back(c);
      ++i;
      continue;
    }
    const size_t size = size_of(c);
    if (size == 0 || g.size() - i < size - 1) break;
    uint32_t value = c & (size == 2 ? 0x1F : size == 3 ? 0x0F : 0x07);
    if (!continues(i + 1)) {  // the lead's bits alone, the byte after it skipped
      if (value != 0) units.push_back(static_cast<char16_t>(value));
      if (value == 0 || i + 1 >= g.size()) break;
      i += 2;
      continue;
    }
    size_t k = i + 1;
    bool last = false;
    for (; k < i + size; ++k) {
      if (!continues(k)) {  // skipped, and the end when it was the zero after the text
        last = k >= g.size();
        ++k;
        break;
      }
      value = value << 6 | (at(k) & 0x3F);
    }
    if (value == 0 || value > 0x10FFFF) break;
    if (value > 0xFFFF) {
      units.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(value));
    }
    if (last) break;
    i = k;
  }
  return units;
}
