#include "core/utf8.h"

#include "core/simd.h"

namespace {

char* PutCodePoint(uint32_t cp, char* out) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
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

size_t DecodeUtf8Units(const unsigned char* b, size_t n, bool final, char16_t* out, size_t* out_len,
                       bool* ended) {
  // bytes[n] is the virtual terminator when final; otherwise a non-ASCII lead is decoded only
  // when all the bytes it may look at (lead and three more) are present.
  auto at = [&](size_t k) -> uint8_t { return k < n ? b[k] : 0; };
  size_t len = *out_len;
  size_t i = 0;
  while (i < n) {
    // Plain ASCII runs are the bulk of every list (the input holds no zero byte).
    const size_t run = AsciiRunLength(b + i, n - i);
    WidenAscii(b + i, run, out + len);
    len += run;
    i += run;
    if (i == n) break;
    if (!final && n - i < 4) break;
    const uint8_t lead = b[i];
    int needed;
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
      *ended = true;  // a stray continuation byte or F8..FF ends the conversion
      break;
    }
    // Bytes that follow the lead, the terminating zero counted.
    if (n - i < static_cast<size_t>(needed)) {
      *ended = true;
      break;
    }
    size_t k = i + 1;
    const uint8_t first = at(k);
    if ((first & 0xC0) != 0x80) {
      // Not a continuation: the lead's own bits become a unit and the examined byte is skipped.
      if (value == 0 || k >= n) {
        if (value != 0) out[len++] = static_cast<char16_t>(value);
        *ended = true;
        break;
      }
      out[len++] = static_cast<char16_t>(value);
      i = k + 1;
      continue;
    }
    value = (value << 6) | (first & 0x3F);
    ++k;
    bool skipped_terminator = false;
    for (int remaining = needed - 1; remaining > 0; --remaining) {
      const uint8_t next = at(k);
      ++k;
      if ((next & 0xC0) != 0x80) {
        // The first byte that is no continuation stops the sequence and is skipped as well.
        skipped_terminator = k > n;
        break;
      }
      value = (value << 6) | (next & 0x3F);
    }
    if (value == 0 || value > 0x10FFFF) {
      *ended = true;
      break;
    }
    if (value <= 0xFFFF) {
      out[len++] = static_cast<char16_t>(value);
    } else {
      const uint32_t v = value - 0x10000;
      out[len++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[len++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
    if (skipped_terminator) {
      *ended = true;
      break;
    }
    i = k;
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
