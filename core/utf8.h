// Conversions between the program's 16-bit text and UTF-8 for GTK, GLib, file names and files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"

// What becomes of a high surrogate that has no low partner.
enum class LoneHighSurrogate {
  // Ends the encoding: everything before it is kept, the rest is dropped. For names handed to
  // the system and GTK, where a unit that is no character must not name anything.
  EndsEncoding,
  // Three bytes, like a lone low surrogate, and the encoding goes on. For file contents: one
  // odd unit in a list must not lose every item after it.
  ThreeBytes,
};

// UTF-8 encoding of 16-bit text; a lone low surrogate becomes 3 bytes.
std::string Utf8FromText(TextView text,
                         LoneHighSurrogate lone_high = LoneHighSurrogate::EndsEncoding);

// Decoding of a UTF-8 byte string as the system hands it out (file names, GTK strings, the
// clipboard): conversion stops at the first byte it cannot place, at a value above 10FFFF and
// at a zero. Misaligned input is not rejected; see the comments in the implementation.
Text TextFromUtf8(std::string_view bytes);

// The program's byte form of text is generalised UTF-8: well-formed UTF-8, except that a UTF-16
// surrogate without its partner is kept as its own 3 bytes (ED A0..BF xx). Every 16-bit text has
// such a form, so one odd unit in a list costs no item; a high surrogate directly followed by a
// low one is always the 4-byte character, never two 3-byte units, so equal texts have equal bytes.

// Writes the code point (at most 10FFFF; a surrogate takes 3 bytes) and returns the end.
inline unsigned char* PutUtf8(uint32_t cp, unsigned char* out) {
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

// A lone surrogate as its 3 bytes at b (which has at least 3): a high half (D800..DBFF) or a
// low one (DC00..DFFF).
inline bool IsHighHalfAt(const unsigned char* b) {
  return b[0] == 0xED && b[1] >= 0xA0 && b[1] <= 0xAF && (b[2] & 0xC0) == 0x80;
}
inline bool IsLowHalfAt(const unsigned char* b) {
  return b[0] == 0xED && b[1] >= 0xB0 && b[1] <= 0xBF && (b[2] & 0xC0) == 0x80;
}
// Writes the character of a high half and a low half that meet as its 4 bytes; returns the end.
inline unsigned char* PutJoinedHalves(const unsigned char* high, const unsigned char* low,
                                      unsigned char* out) {
  const uint32_t h = (uint32_t{high[1]} & 0x0F) << 6 | (high[2] & 0x3F);
  const uint32_t l = (uint32_t{low[1]} & 0x0F) << 6 | (low[2] & 0x3F);
  return PutUtf8(0x10000 + (h << 10) + l, out);
}

// Decodes the generalised UTF-8 character at b, which is not ASCII, and returns its length. The
// bytes are trusted: this is the inner loop of hashing and folding items already checked.
inline size_t DecodeUtf8At(const unsigned char* b, uint32_t& cp) {
  if (b[0] < 0xE0) {
    cp = (uint32_t{b[0]} & 0x1F) << 6 | (b[1] & 0x3F);
    return 2;
  }
  if (b[0] < 0xF0) {
    cp = (uint32_t{b[0]} & 0x0F) << 12 | (uint32_t{b[1]} & 0x3F) << 6 | (b[2] & 0x3F);
    return 3;
  }
  cp = (uint32_t{b[0]} & 0x07) << 18 | (uint32_t{b[1]} & 0x3F) << 12 |
       (uint32_t{b[2]} & 0x3F) << 6 | (b[3] & 0x3F);
  return 4;
}

// The length of the well-formed UTF-8 character outside ASCII at b[0, n): no overlong forms, no
// surrogates, nothing above 10FFFF, nothing cut short. 0 when it is not one.
inline size_t WellFormedLength(const unsigned char* b, size_t n) {
  const unsigned char c = b[0];
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || b[1] < lo || b[1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((b[k] & 0xC0) != 0x80) return 0;
  return len;
}

// Whether bytes[0, n) are well-formed UTF-8 (a zero byte counts as ASCII).
bool IsWellFormedUtf8(const unsigned char* bytes, size_t n);
// The offset of the first byte of bytes[0, n) that starts no well-formed character, or n.
// A character that the end of the bytes cuts short counts only when `complete`; otherwise its
// offset is returned with `cut` set, for the caller to look again with the bytes that follow.
size_t FirstMalformedByte(const unsigned char* bytes, size_t n, bool complete, bool& cut);
// The length of bytes[0, n) without a character that its end cuts short.
size_t WithoutCutCharacter(const unsigned char* bytes, size_t n);

// UTF-8 by the reading rules of old, which lists written by older versions rely on: malformed
// bytes become text rather than an error. Two stages, in this order because the second reads the
// bytes as the first left them, misaligned sequences included.

// Stage 1 groups the bytes by their lead byte without checking the continuation bytes: a byte
// that cannot lead a group becomes "?", a group that the end cuts short is dropped, and the text
// ends at its first zero byte (a group the zero cuts short keeps the bytes before it). Groups
// in[0, n) into out (at most n bytes; out may be in) and returns the bytes consumed: short of n
// only without `final`, before a group whose end has not come yet, to be offered again with what
// follows. At the zero, sets at_zero and consumes the zero, or the whole group it stands in: what
// that group's end is decides its fate. Clears well_formed when the bytes are not well-formed.
size_t GroupLenientUtf8(const unsigned char* in, size_t n, bool final, unsigned char* out,
                        size_t& written, bool& well_formed, bool& at_zero);

// Stage 2, one character: what the grouped bytes b[0, n) (no zero among them) give at b[0], a
// byte from 80 up. n is at least 4, or the text ends after b[n-1].
struct LenientUtf8Step {
  uint32_t value = 0;  // the unit or character decoded, 0 for none; may be a surrogate
  size_t used = 0;     // bytes taken
  bool ends = false;   // the text ends after value
};
LenientUtf8Step DecodeLenientUtf8(const unsigned char* b, size_t n);
