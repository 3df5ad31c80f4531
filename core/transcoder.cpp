#include "core/transcoder.h"

#include <algorithm>
#include <cstring>

#include "core/simd.h"
#include "core/utf8.h"

namespace {

// The UTF-8 bytes of each high byte of each code page, packed little-endian with the length in
// the top byte: a byte takes one table load and one store.
struct PageUtf8 {
  uint32_t of[5][128];
  PageUtf8() {
    for (int page = 0; page < 5; ++page) {
      const char16_t* high = CodePageHighHalf(static_cast<CodePage>(page));
      for (int b = 0; b < 128; ++b) {
        const uint32_t c = high[b];
        uint32_t packed;
        if (c < 0x800)
          packed = (0xC0 | c >> 6) | (0x80 | (c & 0x3F)) << 8 | 2u << 24;
        else
          packed = (0xE0 | c >> 12) | (0x80 | ((c >> 6) & 0x3F)) << 8 | (0x80 | (c & 0x3F)) << 16 |
                   3u << 24;
        of[page][b] = packed;
      }
    }
  }
};

const uint32_t* PageTable(CodePage page) {
  static const PageUtf8 table;
  return table.of[static_cast<int>(page)];
}

unsigned char* PutCodePoint(uint32_t cp, unsigned char* out) {
  if (cp < 0x80) {
    *out++ = static_cast<unsigned char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
    *out++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
    *out++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
    *out++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

Utf8Transcoder::Utf8Transcoder(const SourceFormat& format)
    : encoding_(format.encoding), page_utf8_(PageTable(format.page)) {}

size_t Utf8Transcoder::Convert(const unsigned char* in, size_t n, bool final, unsigned char* out,
                               size_t* written) {
  *written = 0;
  if (stopped()) return n;
  switch (encoding_) {
    case SourceEncoding::Utf16LE:
    case SourceEncoding::Utf16BE:
      return ConvertUtf16(in, n, final, out, written);
    case SourceEncoding::Utf8OrCodePage:
      return ConvertLines(in, n, final, out, written);
    default: {
      const void* zero = std::memchr(in, 0, n);
      const size_t take =
          zero != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - in) : n;
      *written = static_cast<size_t>(PutCodePage(in, take, out) - out);
      if (zero != nullptr) ended_at_zero_ = true;
      return zero != nullptr ? n : take;
    }
  }
}

// The bytes hold no zero.
unsigned char* Utf8Transcoder::PutCodePage(const unsigned char* in, size_t n, unsigned char* out) {
  size_t i = 0;
  while (i < n) {
    const size_t run = AsciiRunLength(in + i, n - i);
    std::memcpy(out, in + i, run);
    out += run;
    i += run;
    while (i < n && in[i] >= 0x80) {
      const uint32_t packed = page_utf8_[in[i++] - 0x80];
      std::memcpy(out, &packed, 4);  // MaxOutput leaves room for the spare byte
      out += packed >> 24;
    }
  }
  return out;
}

size_t Utf8Transcoder::ConvertUtf16(const unsigned char* in, size_t n, bool final,
                                    unsigned char* out, size_t* written) {
  const bool big = encoding_ == SourceEncoding::Utf16BE;
  const int lo = big ? 1 : 0, hi = big ? 0 : 1;
  unsigned char* at = out;
  size_t i = 0;
  auto unit_at = [&](size_t k) -> uint32_t { return in[k + lo] | uint32_t{in[k + hi]} << 8; };
  while (i + 2 <= n) {
    // Four ASCII units at a time: their high bytes are zero, their low bytes below 80 and not 0.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, in + i, 8);
      const uint64_t high_bytes = big ? 0x00FF00FF00FF00FFull : 0xFF00FF00FF00FF00ull;
      if (word & (high_bytes | (~high_bytes & 0x8080808080808080ull))) break;
      const uint64_t low = big ? word >> 8 : word;
      const unsigned char c[4] = {
          static_cast<unsigned char>(low), static_cast<unsigned char>(low >> 16),
          static_cast<unsigned char>(low >> 32), static_cast<unsigned char>(low >> 48)};
      if (c[0] == 0 || c[1] == 0 || c[2] == 0 || c[3] == 0) break;
      std::memcpy(at, c, 4);
      at += 4;
      i += 8;
    }
    if (i + 2 > n) break;
    const uint32_t u = unit_at(i);
    if (u == 0) {
      ended_at_zero_ = true;
      *written = static_cast<size_t>(at - out);
      return n;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u <= 0xDBFF && i + 4 > n && !final) break;  // its partner may come with the next bytes
      const uint32_t next = i + 4 <= n ? unit_at(i + 2) : 0;
      if (u > 0xDBFF || next < 0xDC00 || next > 0xDFFF) {
        lone_surrogate_ = true;
        *written = static_cast<size_t>(at - out);
        return n;
      }
      at = PutCodePoint(0x10000 + ((u & 0x3FF) << 10) + (next & 0x3FF), at);
      i += 4;
      continue;
    }
    at = PutCodePoint(u, at);
    i += 2;
  }
  *written = static_cast<size_t>(at - out);
  return final ? n : i;  // a lone last byte is dropped at the end
}

size_t Utf8Transcoder::ConvertLines(const unsigned char* in, size_t n, bool final,
                                    unsigned char* out, size_t* written) {
  static constexpr unsigned char kLineEndsAndZero[] = {'\n', '\r', 0};
  unsigned char* at = out;
  size_t i = 0;
  while (i < n) {
    // The next piece: a line with its line end (LF, CR, or the CR of a CR LF, whose LF reads the
    // same in either reading), or about kLinePiece bytes of a longer one, cut between characters
    // so that a long UTF-8 line stays UTF-8 piece by piece.
    const size_t look = std::min(n - i, kLinePiece);
    const size_t stop = FirstOfBytes(in + i, look, kLineEndsAndZero, 3);
    size_t end;
    if (stop < look && in[i + stop] == 0) {
      end = i + stop;
      ended_at_zero_ = true;
    } else if (stop < look) {
      end = i + stop + 1;
    } else if (look == kLinePiece) {
      end = i + WithoutCutCharacter(in + i, look);
    } else if (final) {
      end = i + look;
    } else {
      break;  // the line goes on in bytes not yet here
    }
    const size_t length = end - i;
    if (IsWellFormedUtf8(in + i, length)) {
      std::memcpy(at, in + i, length);
      at += length;
    } else {
      at = PutCodePage(in + i, length, at);
    }
    i = end;
    if (ended_at_zero_) {
      i = n;
      break;
    }
  }
  *written = static_cast<size_t>(at - out);
  return i;
}
