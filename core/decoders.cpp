#include "core/decoders.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/memory_advice.h"
#include "core/simd.h"
#include "core/utf8.h"

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

// A text of exactly the decoded length, built through a raw pointer.
class UnitBuffer {
 public:
  explicit UnitBuffer(size_t most) : text_(most, u'\0') {}
  char16_t* data() { return text_.data(); }
  Text Finish(size_t length) {
    text_.resize(length);
    // Keep the text's memory close to its size: a whole source stays in memory for a run.
    if (text_.capacity() > length + length / 4 + 4096) text_.shrink_to_fit();
    return std::move(text_);
  }

 private:
  Text text_;
};

Text DecodeUtf16(const unsigned char* src, size_t size, bool big_endian) {
  UnitBuffer out(size / 2);
  char16_t* dst = out.data();
  size_t len = 0;
  // A lone last byte is dropped; a unit 0 ends the text.
  for (size_t k = 0; k + 1 < size; k += 2) {
    const char16_t unit = big_endian ? static_cast<char16_t>(src[k] << 8 | src[k + 1])
                                     : static_cast<char16_t>(src[k + 1] << 8 | src[k]);
    if (unit == 0) break;
    dst[len++] = unit;
  }
  return out.Finish(len);
}

Text DecodeUtf32(const unsigned char* src, size_t size, bool big_endian) {
  UnitBuffer out(size / 2);
  char16_t* dst = out.data();
  size_t len = 0;
  // An incomplete last character is dropped; a character 0 ends the text; values that are no
  // character (above 10FFFF, surrogates) become "?".
  for (size_t k = 0; k + 3 < size; k += 4) {
    const unsigned char* q = src + k;
    const uint32_t cp =
        big_endian ? uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]
                   : uint32_t{q[3]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    if (cp == 0) break;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      dst[len++] = u'?';
    } else if (cp > 0xFFFF) {
      dst[len++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      dst[len++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      dst[len++] = static_cast<char16_t>(cp);
    }
  }
  return out.Finish(len);
}

Text DecodeSingleByte(const unsigned char* src, size_t size) {
  size_t len = 0;
  while (len < size && src[len] != 0) ++len;
  UnitBuffer out(len);
  for (size_t k = 0; k < len; ++k) out.data()[k] = src[k];
  return out.Finish(len);
}

// Stage 2 converts the grouped bytes, so a misaligned sequence decodes exactly as the grouping
// left it.
Text DecodeUtf8(unsigned char* bytes, size_t size, bool& well_formed) {
  const size_t grouped = GroupUtf8InPlace(bytes, size, well_formed);
  // Decoded a piece at a time into a small buffer that stays in the cache, then appended: the
  // text's memory is written once, never cleared first.
  Text text;
  text.reserve(grouped);
  AdviseHugePages(text.data(), grouped * sizeof(char16_t));
  constexpr size_t kPiece = 1 << 15;
  static thread_local char16_t piece[kPiece];
  bool ended = false;
  for (size_t at = 0; at < grouped && !ended;) {
    const size_t take = std::min(grouped - at, kPiece);
    const bool final = at + take == grouped;
    size_t len = 0;
    at += DecodeUtf8Units(bytes + at, take, final, piece, &len, &ended);
    text.append(piece, len);
  }
  if (text.capacity() > text.size() + text.size() / 4 + 4096) text.shrink_to_fit();
  return text;
}

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

size_t FormatUnitSize(TextFormat format) {
  if (format == FormatUtf16LE || format == FormatUtf16BE) return 2;
  if (format == FormatUtf32LE || format == FormatUtf32BE) return 4;
  return 1;
}

size_t FormatLookahead(TextFormat format) {
  return format == FormatUtf8 ? 3 : 0;
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

size_t GroupUtf8InPlace(unsigned char* b, size_t n, bool& well_formed) {
  size_t grouped = 0;
  bool at_zero = false;
  GroupLenientUtf8(b, n, true, b, grouped, well_formed, at_zero);
  return grouped;
}

Text DecodeBytes(unsigned char* bytes, size_t count, TextFormat format, bool& well_formed) {
  switch (format) {
    case FormatUtf8:
      return DecodeUtf8(bytes, count, well_formed);
    case FormatUtf16LE:
      return DecodeUtf16(bytes, count, false);
    case FormatUtf16BE:
      return DecodeUtf16(bytes, count, true);
    case FormatUtf32LE:
      return DecodeUtf32(bytes, count, false);
    case FormatUtf32BE:
      return DecodeUtf32(bytes, count, true);
    default:
      return DecodeSingleByte(bytes, count);
  }
}
