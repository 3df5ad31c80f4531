#include "core/utf16_judge.h"

namespace {

// The bytes read as units of one order.
struct Reading {
  size_t units = 0;
  size_t zero_high = 0;  // units below 100 but not 0: ASCII, spaces, line ends, Latin-1 letters
  size_t zero_low = 0;   // units whose low byte alone is zero
  size_t line_ends = 0;  // LF and CR
  size_t foreign = 0;    // units no text holds
};

Reading ReadUnits(const unsigned char* b, size_t n, bool big) {
  Reading r;
  r.units = n / 2;
  const int lo = big ? 1 : 0, hi = big ? 0 : 1;
  bool wants_low_surrogate = false;
  bool waiting_low_zero = false;  // the high surrogate waiting for its partner has a zero low byte
  for (size_t i = 0; i + 2 <= n; i += 2) {
    const unsigned low = b[i + lo], high = b[i + hi];
    const unsigned unit = high << 8 | low;
    if (wants_low_surrogate) {
      wants_low_surrogate = false;
      // A pair is a character like any other: its halves' zero low bytes say nothing.
      if (unit >= 0xDC00 && unit <= 0xDFFF) continue;
      ++r.foreign;  // the high surrogate before it stands alone
      if (waiting_low_zero) ++r.zero_low;
    }
    if (high == 0) {
      if (low == '\n' || low == '\r')
        ++r.line_ends;
      else if (low == 0 || (low < 0x20 && low != '\t' && low != '\v' && low != '\f') ||
               (low >= 0x7F && low < 0xA0))
        ++r.foreign;
      if (low != 0) ++r.zero_high;
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      wants_low_surrogate = true;
      waiting_low_zero = low == 0;
      continue;
    }
    if (low == 0) ++r.zero_low;
    if ((unit >= 0xDC00 && unit <= 0xF8FF) || unit >= 0xFFFE)
      ++r.foreign;  // a lone low surrogate, private use, a non-character
  }
  // One cut off by the end of the bytes is not held against them.
  if (wants_low_surrogate && waiting_low_zero) ++r.zero_low;
  return r;
}

bool LooksLikeText(const Reading& r, const Reading& other) {
  // A stray unit in a long text is forgiven (it is read as it stands); random bytes have one in
  // eight (surrogates and private use alone), and a binary file is full of zero units.
  if (r.zero_high < 2 || r.foreign * 64 > r.units) return false;
  // Lines: their ends are units of their own, and in the other order they would be characters
  // with a zero low byte. Long lines of Chinese have more characters with a zero low byte than
  // line ends, but the other order then has no line ends at all.
  if (r.line_ends > 0 && (r.zero_high > r.zero_low || other.line_ends == 0)) return true;
  // One long line: its spaces and punctuation show.
  return r.zero_high * 64 >= r.units && r.zero_low * 16 <= r.zero_high;
}

}  // namespace

Utf16Order JudgeUtf16(const unsigned char* bytes, size_t n) {
  const Reading little = ReadUnits(bytes, n, false);
  const Reading big = ReadUnits(bytes, n, true);
  const bool is_little = LooksLikeText(little, big), is_big = LooksLikeText(big, little);
  if (is_little && is_big) {
    // Each order has a claim: the one whose line ends and low zeros say more.
    auto weight = [](const Reading& r) {
      return static_cast<long long>(r.line_ends) * 4 + static_cast<long long>(r.zero_high) -
             static_cast<long long>(r.zero_low);
    };
    return weight(little) >= weight(big) ? Utf16Order::LittleEndian : Utf16Order::BigEndian;
  }
  if (is_little) return Utf16Order::LittleEndian;
  if (is_big) return Utf16Order::BigEndian;
  return Utf16Order::None;
}
