// Conversions between the program's 16-bit text and UTF-8 for GTK, GLib, file names and files.
#pragma once

#include <cstddef>
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

// The conversion of TextFromUtf8 on a stream that arrives in pieces. Decodes as much of
// bytes[0, n) as can be decided now and returns how many bytes it consumed; the caller keeps the
// rest and offers it again with more. With final set, the input ends after bytes[n-1] (followed
// by the terminating zero). Writes at most n units to out (advancing *out_len); sets *ended when
// the conversion has stopped for good. The input must hold no zero byte.
size_t DecodeUtf8Units(const unsigned char* bytes, size_t n, bool final, char16_t* out,
                       size_t* out_len, bool* ended);

// Streaming form of the encoding, for results too large to hold twice: feed pieces in order,
// then Finish. The bytes are those of the one-piece encoding of all pieces together.
class Utf8Encoder {
 public:
  explicit Utf8Encoder(LoneHighSurrogate lone_high = LoneHighSurrogate::EndsEncoding)
      : lone_high_(lone_high) {}
  void Encode(TextView piece, std::string& out);
  // Writes the encoding to dst, which has room for MaxBytes(piece.size()); returns the end.
  char* EncodeTo(TextView piece, char* dst);
  // Ends the text: a high surrogate still waiting for its partner has none. Writes at most
  // MaxBytes(0) bytes to dst; returns the end.
  char* Finish(char* dst);
  void Finish(std::string& out);
  // A unit needs at most 3 bytes; a pair waiting from the last piece completes with 4.
  static size_t MaxBytes(size_t units) { return units * 3 + 4; }
  bool stopped() const { return stopped_; }

 private:
  char* PutLoneHigh(char16_t unit, char* dst);
  LoneHighSurrogate lone_high_;
  char16_t pending_high_ = 0;
  bool stopped_ = false;
};

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
