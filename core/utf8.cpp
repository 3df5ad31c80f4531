#include "core/utf8.h"

#include <cstring>

#include "core/simd.h"

namespace {

char* PutCodePoint(uint32_t cp, char* out) {
  return reinterpret_cast<char*>(PutUtf8(cp, reinterpret_cast<unsigned char*>(out)));
}

bool IsHigh(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLow(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

char* Utf8Encoder::PutLoneHigh(char16_t unit, char* dst) {
  if (lone_high_ == LoneHighSurrogate::EndsEncoding) {
    stopped_ = true;
    return dst;
  }
  return PutCodePoint(unit, dst);
}

char* Utf8Encoder::EncodeTo(TextView piece, char* dst) {
  if (stopped_) return dst;
  size_t i = 0;
  const size_t n = piece.size();
  if (pending_high_ != 0 && n > 0) {
    const char16_t high = pending_high_;
    pending_high_ = 0;
    if (IsLow(piece[0])) {
      dst = PutCodePoint(((high & 0x3FFu) << 10) + (piece[0] & 0x3FFu) + 0x10000u, dst);
      i = 1;
    } else {
      dst = PutLoneHigh(high, dst);
      if (stopped_) return dst;
    }
  }
  while (i < n) {
    // Plain ASCII runs are the common case of every list.
    const size_t run = AsciiUnitRunLength(piece.data() + i, n - i);
    NarrowAscii(piece.data() + i, run, dst);
    dst += run;
    i += run;
    if (i == n) break;
    const char16_t u = piece[i];
    if (IsHigh(u)) {
      if (i + 1 == n) {
        pending_high_ = u;
        return dst;
      }
      if (IsLow(piece[i + 1])) {
        dst = PutCodePoint(((u & 0x3FFu) << 10) + (piece[i + 1] & 0x3FFu) + 0x10000u, dst);
        i += 2;
      } else {
        dst = PutLoneHigh(u, dst);
        if (stopped_) return dst;
        ++i;
      }
    } else {
      dst = PutCodePoint(u, dst);
      ++i;
    }
  }
  return dst;
}

char* Utf8Encoder::Finish(char* dst) {
  if (stopped_ || pending_high_ == 0) return dst;
  const char16_t high = pending_high_;
  pending_high_ = 0;
  return PutLoneHigh(high, dst);
}

void Utf8Encoder::Finish(std::string& out) {
  const size_t old = out.size();
  out.resize(old + MaxBytes(0));
  out.resize(static_cast<size_t>(Finish(out.data() + old) - out.data()));
}

void Utf8Encoder::Encode(TextView piece, std::string& out) {
  const size_t old = out.size();
  out.resize(old + MaxBytes(piece.size()));
  char* end = EncodeTo(piece, out.data() + old);
  out.resize(static_cast<size_t>(end - out.data()));
}

std::string Utf8FromText(TextView text, LoneHighSurrogate lone_high) {
  std::string out;
  out.reserve(text.size());
  Utf8Encoder encoder(lone_high);
  encoder.Encode(text, out);
  encoder.Finish(out);
  return out;
}

LenientUtf8Step DecodeLenientUtf8(const unsigned char* b, size_t n) {
  // b[n] is the virtual terminator: a sequence cut short by the text's end reads it as a byte
  // that is no continuation.
  auto at = [&](size_t k) -> uint8_t { return k < n ? b[k] : 0; };
  LenientUtf8Step step;
  const uint8_t lead = b[0];
  size_t needed;
  uint32_t value;
  if (lead >= 0xC0 && lead <= 0xDF) {
    needed = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    needed = 3;
    value = lead & 0x07;
  } else {
    step.ends = true;  // a stray continuation byte or F8..FF ends the text
    return step;
  }
  // Bytes that follow the lead, the terminator counted.
  if (n < needed) {
    step.ends = true;
    return step;
  }
  const uint8_t first = at(1);
  if ((first & 0xC0) != 0x80) {
    // Not a continuation: the lead's own bits become a unit and the examined byte is skipped.
    step.value = value;
    step.used = 2;
    step.ends = value == 0 || n <= 1;
    return step;
  }
  value = (value << 6) | (first & 0x3F);
  size_t k = 2;
  for (size_t remaining = needed - 1; remaining > 0; --remaining) {
    const uint8_t next = at(k++);
    if ((next & 0xC0) != 0x80) {
      // The first byte that is no continuation stops the sequence and is skipped as well.
      step.ends = k > n;
      break;
    }
    value = (value << 6) | (next & 0x3F);
  }
  if (value == 0 || value > 0x10FFFF) {
    step.ends = true;
    return step;
  }
  step.value = value;
  step.used = k;
  return step;
}

// Whether the bytes are well-formed is noted on the way: it decides nothing about the text but
// is told to the user, since a list in a legacy code page reads as control characters.
size_t GroupLenientUtf8(const unsigned char* in, size_t n, bool final, unsigned char* out,
                        size_t& written, bool& well_formed, bool& at_zero) {
  auto copy = [&](size_t from, size_t count) {
    if (out != in) std::memcpy(out + from, in + from, count);
  };
  size_t i = 0;
  while (i < n) {
    const size_t run = AsciiRunLength(in + i, n - i);
    copy(i, run);
    i += run;
    if (i == n) break;
    const unsigned char lead = in[i];
    if (lead == 0) {
      at_zero = true;
      written = i;
      return i + 1;
    }
    const size_t size = lead >= 0xC0 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF7 ? 4
                                                       : 0;
    if (size == 0) {
      well_formed = false;
      out[i++] = '?';
      continue;
    }
    if (i + size > n) {
      written = i;
      if (!final) return i;  // the rest of the group may come with the next bytes
      well_formed = false;
      if (std::memchr(in + i, 0, n - i) != nullptr) at_zero = true;
      return n;
    }
    for (size_t k = 1; k < size; ++k) {
      if (in[i + k] == 0) {
        well_formed = false;
        copy(i, k);
        at_zero = true;
        written = i + k;
        return i + size;
      }
    }
    if (well_formed && WellFormedLength(in + i, size) != size) well_formed = false;
    copy(i, size);
    i += size;
  }
  written = n;
  return n;
}

size_t DecodeUtf8Units(const unsigned char* b, size_t n, bool final, char16_t* out, size_t* out_len,
                       bool* ended) {
  size_t len = *out_len;
  size_t i = 0;
  while (i < n) {
    // Plain ASCII runs are the bulk of every list (the input holds no zero byte).
    const size_t run = AsciiRunLength(b + i, n - i);
    WidenAscii(b + i, run, out + len);
    len += run;
    i += run;
    if (i == n) break;
    // Not yet final, a character is decoded only when all the bytes it may look at are here.
    if (!final && n - i < 4) break;
    const LenientUtf8Step step = DecodeLenientUtf8(b + i, n - i);
    if (step.value > 0xFFFF) {
      const uint32_t v = step.value - 0x10000;
      out[len++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[len++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else if (step.value != 0) {
      out[len++] = static_cast<char16_t>(step.value);
    }
    if (step.ends) {
      *ended = true;
      break;
    }
    i += step.used;
  }
  *out_len = len;
  return *ended ? n : i;
}

Text TextFromUtf8(std::string_view bytes) {
  const size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  Text out(bytes.size(), u'\0');
  size_t len = 0;
  bool ended = false;
  DecodeUtf8Units(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), true,
                  out.data(), &len, &ended);
  out.resize(len);
  return out;
}

bool IsWellFormedUtf8(const unsigned char* b, size_t n) {
  bool cut = false;
  return FirstMalformedByte(b, n, true, cut) == n;
}

size_t FirstMalformedByte(const unsigned char* b, size_t n, bool complete, bool& cut) {
  cut = false;
  size_t i = 0;
  while (i < n) {
    i += AsciiRunLength(b + i, n - i);
    if (i >= n) break;
    if (b[i] < 0x80) {  // a zero byte: the run above stops at it
      ++i;
      continue;
    }
    const size_t len = WellFormedLength(b + i, n - i);
    if (len == 0) {
      cut = !complete && WithoutCutCharacter(b + i, n - i) == 0;
      return i;
    }
    i += len;
  }
  return n;
}

size_t WithoutCutCharacter(const unsigned char* b, size_t n) {
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const unsigned char c = b[n - back];
    if (c < 0x80) break;
    if (c < 0xC0) continue;  // a continuation byte: look further back for its lead
    const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    return need > back ? n - back : n;
  }
  return n;
}
