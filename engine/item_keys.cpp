#include "engine/item_keys.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "engine/byte_source.h"

namespace {

constexpr bool IsAsciiWhite(unsigned char c) {
  return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

// The bytes a white space character can begin and end with. Nearly every item begins and ends
// with neither, and is then given back after two lookups.
constexpr std::array<bool, 256> MakeEdgeTable(bool first) {
  std::array<bool, 256> table{};
  for (int c = 0x09; c <= 0x0D; ++c) table[c] = true;
  table[0x20] = true;
  const unsigned char firsts[] = {0xC2, 0xE1, 0xE2, 0xE3, 0xEF};
  const unsigned char lasts[] = {0x85, 0xA0, 0x80, 0x81, 0x82, 0x83, 0x84, 0x86, 0x87,
                                 0x88, 0x89, 0x8A, 0x8B, 0xA8, 0xA9, 0xAF, 0x9F, 0xBF};
  if (first)
    for (unsigned char c : firsts) table[c] = true;
  else
    for (unsigned char c : lasts) table[c] = true;
  return table;
}
constexpr std::array<bool, 256> kMayBegin = MakeEdgeTable(true);
constexpr std::array<bool, 256> kMayEnd = MakeEdgeTable(false);

// The length of the white space character beyond ASCII that the `left` bytes at b begin with,
// or 0: U+0085, U+00A0, U+1680, U+2000 to U+200B, U+2028, U+2029, U+202F, U+205F, U+3000 and
// U+FEFF.
size_t WideWhiteLength(const unsigned char* b, size_t left) {
  if (left >= 2 && b[0] == 0xC2) return b[1] == 0x85 || b[1] == 0xA0 ? 2 : 0;
  if (left < 3) return 0;
  switch (b[0]) {
    case 0xE1:
      return b[1] == 0x9A && b[2] == 0x80 ? 3 : 0;
    case 0xE2:
      if (b[1] == 0x80)
        return (b[2] >= 0x80 && b[2] <= 0x8B) || b[2] == 0xA8 || b[2] == 0xA9 || b[2] == 0xAF ? 3
                                                                                              : 0;
      return b[1] == 0x81 && b[2] == 0x9F ? 3 : 0;
    case 0xE3:
      return b[1] == 0x80 && b[2] == 0x80 ? 3 : 0;
    case 0xEF:
      return b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
    default:
      return 0;
  }
}

}  // namespace

std::string_view TrimmedItem(std::string_view item) {
  const auto* b = reinterpret_cast<const unsigned char*>(item.data());
  size_t begin = 0, end = item.size();
  if (end == 0 || (!kMayBegin[b[0]] && !kMayEnd[b[end - 1]])) return item;
  while (begin < end) {
    if (IsAsciiWhite(b[begin])) {
      ++begin;
      continue;
    }
    const size_t length = WideWhiteLength(b + begin, end - begin);
    if (length == 0) break;
    begin += length;
  }
  // A character is matched from its lead byte, which no continuation byte can be taken for: a
  // white space character at the end is one whatever stands before it.
  while (end > begin) {
    if (IsAsciiWhite(b[end - 1])) {
      --end;
    } else if (end - begin >= 2 && WideWhiteLength(b + end - 2, 2) == 2) {
      end -= 2;
    } else if (end - begin >= 3 && WideWhiteLength(b + end - 3, 3) == 3) {
      end -= 3;
    } else {
      break;
    }
  }
  return item.substr(begin, end - begin);
}

bool HoldsYo(const unsigned char* b, size_t n) {
  // ё is D1 91, Ё is D0 81: eight bytes of ASCII at a time hold neither, and nor does a last
  // piece of ASCII, read as the eight bytes that end the item.
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  size_t i = 0;
  uint64_t word;
  for (; i + 8 <= n; i += 8) {
    std::memcpy(&word, b + i, 8);
    if ((word & kHigh) != 0) break;
  }
  if (i + 8 > n) {
    if (n >= 8) {
      std::memcpy(&word, b + n - 8, 8);
      if ((word & kHigh) == 0) return false;
    } else {
      bool ascii = true;
      for (size_t k = 0; k < n; ++k) ascii = ascii && b[k] < 0x80;
      if (ascii) return false;
    }
    i = n >= 8 ? std::min(i, n - 8) : 0;
  }
  // A byte before i is ASCII, so no pair starts there.
  for (; i + 1 < n; ++i)
    if ((b[i] == 0xD1 && b[i + 1] == 0x91) || (b[i] == 0xD0 && b[i + 1] == 0x81)) return true;
  return false;
}

void FoldYo(const unsigned char* b, size_t n, unsigned char* out) {
  std::memcpy(out, b, n);
  for (size_t i = 0; i + 1 < n; ++i) {
    if (out[i] == 0xD1 && out[i + 1] == 0x91) {
      out[i] = 0xD0;  // е
      out[++i] = 0xB5;
    } else if (out[i] == 0xD0 && out[i + 1] == 0x81) {
      out[++i] = 0x95;  // Е
    }
  }
}

std::string_view ItemKey(const ItemRules& rules, std::string_view item, unsigned char* scratch) {
  const auto* b = reinterpret_cast<const unsigned char*>(item.data());
  if (!rules.case_sensitive) {
    const size_t n = FoldUtf8(b, item.size(), scratch, rules.fold_yo);
    return {reinterpret_cast<const char*>(scratch), n};
  }
  if (!rules.fold_yo || !HoldsYo(b, item.size())) return item;
  FoldYo(b, item.size(), scratch);
  return {reinterpret_cast<const char*>(scratch), item.size()};
}
