// Conversions between the program's 16-bit text and UTF-8 for GTK, GLib, file names and files.
#pragma once

#include <string>
#include <string_view>

#include "core/text.h"

// UTF-8 encoding of 16-bit text. A high surrogate not followed by a low one ends the encoding
// there: everything before it is kept, the rest is dropped. A lone low surrogate becomes 3 bytes.
std::string Utf8FromText(TextView text);

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
// the bytes come out through the sink. Once a lone high surrogate has been met, nothing more
// is produced, exactly as the one-piece encoding would have stopped there.
class Utf8Encoder {
 public:
  // Appends the encoding of the piece to out.
  void Encode(TextView piece, std::string& out);
  // Writes the encoding to dst, which has room for MaxBytes(piece.size()); returns the end.
  char* EncodeTo(TextView piece, char* dst);
  // A unit needs at most 3 bytes; a pair waiting from the last piece completes with 4.
  static size_t MaxBytes(size_t units) { return units * 3 + 4; }
  bool stopped() const { return stopped_; }

 private:
  char16_t pending_high_ = 0;
  bool stopped_ = false;
};
