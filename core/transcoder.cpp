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
        unsigned char bytes[4] = {};
        const size_t length = static_cast<size_t>(PutUtf8(high[b], bytes) - bytes);
        of[page][b] = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                      static_cast<uint32_t>(length) << 24;
      }
    }
  }
};

const uint32_t* PageTable(CodePage page) {
  static const PageUtf8 table;
  return table.of[static_cast<int>(page)];
}

}  // namespace

Utf8Transcoder::Utf8Transcoder(const SourceFormat& format)
    : encoding_(format.encoding), page_utf8_(PageTable(format.page)) {}

bool Utf8Transcoder::ConvertsUnitByUnit() const {
  return UnitSize(encoding_) > 1;
}

size_t Utf8Transcoder::Convert(const unsigned char* in, size_t n, bool final, unsigned char* out,
                               size_t* written) {
  *written = 0;
  if (stopped()) return 0;
  switch (encoding_) {
    case SourceEncoding::Utf16LE:
    case SourceEncoding::Utf16BE:
      return ConvertUtf16(in, n, final, out, written);
    case SourceEncoding::Utf32LE:
    case SourceEncoding::Utf32BE:
      return ConvertUtf32(in, n, final, out, written);
    case SourceEncoding::Utf8Lenient:
      return ConvertLenient(in, n, final, out, written);
    case SourceEncoding::Utf8OrCodePage:
      return ConvertLines(in, n, final, out, written);
    default: {
      const void* zero = std::memchr(in, 0, n);
      const size_t take =
          zero != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - in) : n;
      *written = static_cast<size_t>(PutCodePage(in, take, out) - out);
      if (zero != nullptr) ended_at_zero_ = true;
      return zero != nullptr ? take + 1 : take;
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
    const size_t narrowed = NarrowAsciiUtf16(in + i, n - i, big, at);
    i += narrowed;
    at += narrowed / 2;
    if (i + 2 > n) break;
    const uint32_t u = unit_at(i);
    if (u == 0) {
      ended_at_zero_ = true;
      *written = static_cast<size_t>(at - out);
      return i + 2;
    }
    // A unit of two bytes (Cyrillic), and those after it up to the next ASCII one: a word is
    // converted here whole, not a block tried at every letter.
    if (u >= 0x80 && u < 0x800) {
      uint32_t v = u;
      do {
        at[0] = static_cast<unsigned char>(0xC0 | v >> 6);
        at[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
        at += 2;
        i += 2;
      } while (i + 2 <= n && (v = unit_at(i)) >= 0x80 && v < 0x800);
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u <= 0xDBFF && i + 4 > n && !final) break;  // its partner may come with the next bytes
      const uint32_t next = i + 4 <= n ? unit_at(i + 2) : 0;
      if (u <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        at = PutUtf8(0x10000 + ((u & 0x3FF) << 10) + (next & 0x3FF), at);
        i += 4;
        continue;
      }
      lone_surrogate_ = true;
    }
    at = PutUtf8(u, at);
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
      ++i;  // the zero
      break;
    }
  }
  *written = static_cast<size_t>(at - out);
  return i;
}

size_t Utf8Transcoder::ConvertUtf32(const unsigned char* in, size_t n, bool final,
                                    unsigned char* out, size_t* written) {
  const bool big = encoding_ == SourceEncoding::Utf32BE;
  // Two ASCII characters at a time: their three high bytes are zero and their low byte below 80
  // and not 0. Lists are mostly ASCII, and a unit a byte would leave the conversion the slowest
  // part of reading them.
  const uint64_t not_ascii = big ? 0x80FFFFFF80FFFFFFull : 0xFFFFFF80FFFFFF80ull;
  const int low_shift = big ? 24 : 0;
  unsigned char* at = out;
  size_t i = 0;
  for (;;) {
    const size_t narrowed = NarrowAsciiUtf32(in + i, n - i, big, at);
    i += narrowed;
    at += narrowed / 4;
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, in + i, 8);
      const auto first = static_cast<unsigned char>(word >> low_shift);
      const auto second = static_cast<unsigned char>(word >> (32 + low_shift));
      if ((word & not_ascii) != 0 || first == 0 || second == 0) break;
      at[0] = first;
      at[1] = second;
      at += 2;
    }
    if (i + 4 > n) break;
    const unsigned char* q = in + i;
    const uint32_t cp =
        big ? uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]
            : uint32_t{q[3]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    if (cp == 0) {
      ended_at_zero_ = true;
      *written = static_cast<size_t>(at - out);
      return i + 4;
    }
    // Values that are no character (above 10FFFF, surrogates) read as "?", as they always have.
    at = PutUtf8(cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? '?' : cp, at);
    i += 4;
  }
  *written = static_cast<size_t>(at - out);
  return final ? n : i;  // an incomplete last character is dropped at the end
}

unsigned char* Utf8Transcoder::PutLenient(uint32_t value, unsigned char* out) {
  // The units decoded make the text: a high surrogate directly followed by a low one is a
  // character, as it is in the 16-bit text, and equal texts must keep equal bytes.
  if (pending_high_ != 0 && value >= 0xDC00 && value <= 0xDFFF) {
    const uint32_t high = pending_high_;
    pending_high_ = 0;
    return PutUtf8(0x10000 + ((high & 0x3FF) << 10) + (value & 0x3FF), out);
  }
  out = PutPendingHigh(out);
  if (value >= 0xD800 && value <= 0xDBFF) {
    pending_high_ = value;
    return out;
  }
  if (value >= 0xDC00 && value <= 0xDFFF) lone_surrogate_ = true;
  return PutUtf8(value, out);
}

unsigned char* Utf8Transcoder::PutPendingHigh(unsigned char* out) {
  if (pending_high_ == 0) return out;
  lone_surrogate_ = true;
  out = PutUtf8(pending_high_, out);
  pending_high_ = 0;
  return out;
}

unsigned char* Utf8Transcoder::DecodeGrouped(const unsigned char* b, size_t n, bool final,
                                             unsigned char* out, size_t& used) {
  size_t i = 0;
  while (i < n) {
    const size_t run = AsciiRunLength(b + i, n - i);
    if (run > 0) {
      out = PutPendingHigh(out);
      std::memcpy(out, b + i, run);
      out += run;
      i += run;
      if (i == n) break;
    }
    // Not yet final, a character is decoded only when all the bytes it may look at are here.
    if (!final && n - i < 4) break;
    const LenientUtf8Step step = DecodeLenientUtf8(b + i, n - i);
    if (step.value != 0) out = PutLenient(step.value, out);
    if (step.ends) {
      text_ended_ = true;
      break;
    }
    i += step.used;
  }
  used = i;
  return out;
}

size_t Utf8Transcoder::ConvertLenient(const unsigned char* in, size_t n, bool final,
                                      unsigned char* out, size_t* written) {
  // Each call groups what it is given after the grouped bytes the last call could not decode
  // yet: grouped bytes are what the decoding reads, and they are no longer the input's.
  if (grouped_ == nullptr || grouped_capacity_ < carried_count_ + n) {
    grouped_capacity_ = std::max({carried_count_ + n, grouped_capacity_ * 2, size_t{64}});
    grouped_.reset(new unsigned char[grouped_capacity_]);
  }
  unsigned char* grouped = grouped_.get();
  std::memcpy(grouped, carried_, carried_count_);
  size_t count = 0;
  bool well_formed = !not_utf8_;
  bool at_zero = false;
  const size_t consumed =
      GroupLenientUtf8(in, n, final, grouped + carried_count_, count, well_formed, at_zero);
  not_utf8_ = !well_formed;
  count += carried_count_;
  carried_count_ = 0;
  // Once the text has ended, the grouping goes on alone: it still tells whether the bytes are
  // well-formed and where the zero is.
  if (!text_ended_) {
    const bool text_end = final || at_zero;
    size_t used = 0;
    unsigned char* at = DecodeGrouped(grouped, count, text_end, out, used);
    if (text_end || text_ended_) {
      text_ended_ = true;
      at = PutPendingHigh(at);
    } else {
      carried_count_ = count - used;
      std::memcpy(carried_, grouped + used, carried_count_);
    }
    *written = static_cast<size_t>(at - out);
  }
  if (at_zero) ended_at_zero_ = true;
  return consumed;
}
