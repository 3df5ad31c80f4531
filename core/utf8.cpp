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

std::string Utf8FromText(TextView text, LoneHighSurrogate lone_high) {
  std::string out(text.size() * 3, '\0');
  char* dst = out.data();
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    // Plain ASCII runs are the common case of every list.
    const size_t run = AsciiUnitRunLength(text.data() + i, n - i);
    NarrowAscii(text.data() + i, run, dst);
    dst += run;
    i += run;
    if (i == n) break;
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < n && IsLow(text[i + 1])) {
      dst = PutCodePoint(((u & 0x3FFu) << 10) + (text[i + 1] & 0x3FFu) + 0x10000u, dst);
      i += 2;
      continue;
    }
    if (IsHigh(u) && lone_high == LoneHighSurrogate::EndsEncoding) break;
    dst = PutCodePoint(u, dst);
    ++i;
  }
  out.resize(static_cast<size_t>(dst - out.data()));
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

Text TextFromUtf8(std::string_view text) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  Text out(n, u'\0');
  size_t len = 0;
  for (size_t i = 0; i < n;) {
    // Plain ASCII runs are the bulk of every text.
    const size_t run = AsciiRunLength(b + i, n - i);
    WidenAscii(b + i, run, out.data() + len);
    len += run;
    i += run;
    if (i == n) break;
    const LenientUtf8Step step = DecodeLenientUtf8(b + i, n - i);
    if (step.value > 0xFFFF) {
      const uint32_t v = step.value - 0x10000;
      out[len++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[len++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else if (step.value != 0) {
      out[len++] = static_cast<char16_t>(step.value);
    }
    if (step.ends) break;
    i += step.used;
  }
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
    i += AsciiOrTwoByteRunLength(b + i, n - i);
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
