#include "core/text_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/simd.h"

namespace {

struct MarkEntry {
  std::string_view bytes;
  TextFormat format;
};
// Longest first where one mark begins another: FF FE 00 00 must not read as UTF-16LE.
constexpr MarkEntry kMarks[] = {
    {std::string_view("\xFF\xFE\x00\x00", 4), FormatUtf32LE},
    {std::string_view("\x00\x00\xFE\xFF", 4), FormatUtf32BE},
    {std::string_view("\xFF\xFE", 2), FormatUtf16LE},
    {std::string_view("\xEF\xBB\xBF", 3), FormatUtf8},
    {std::string_view("\xFE\xFF", 2), FormatUtf16BE},
};

}  // namespace

ByteOrderMark FindByteOrderMark(const unsigned char* bytes, size_t count) {
  for (const MarkEntry& mark : kMarks) {
    if (count >= mark.bytes.size() && std::memcmp(bytes, mark.bytes.data(), mark.bytes.size()) == 0)
      return {mark.format, mark.bytes.size()};
  }
  return {};
}

std::string_view ByteOrderMarkBytes(TextFormat format) {
  for (const MarkEntry& mark : kMarks)
    if (mark.format == format) return mark.bytes;
  return {};
}

size_t FindZeroUnit(const unsigned char* b, size_t from, size_t n, size_t unit) {
  const size_t whole = n - n % unit;
  if (from >= whole) return whole;  // nothing to look at, perhaps no bytes at all
  if (unit == 1) {
    const void* zero = std::memchr(b + from, 0, whole - from);
    return zero == nullptr ? whole
                           : static_cast<size_t>(static_cast<const unsigned char*>(zero) - b);
  }
  if (unit == 2) return from + ZeroPairOffset(b + from, whole - from);
  for (size_t k = from; k < whole; k += unit)
    if (std::all_of(b + k, b + k + unit, [](unsigned char c) { return c == 0; })) return k;
  return whole;
}
