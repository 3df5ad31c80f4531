// Sources in UTF-16 or a code page turned into UTF-8 as they are read, so that the byte engine
// takes them as it takes UTF-8 lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/source_format.h"

class Utf8Transcoder {
 public:
  // For UTF-16 (either order), a code page, and UTF-8 with lines in a code page.
  explicit Utf8Transcoder(const SourceFormat& format);

  // Converts what can be converted now of in[0, n) into out, which has room for MaxOutput(n)
  // bytes; sets *written and returns the input bytes consumed. What is not consumed (half a
  // UTF-16 unit, a line not yet ended) must be offered again with what follows; with `final` the
  // input ends here. The conversion stops for good at a zero unit, which ends the text, and at a
  // UTF-16 surrogate without its partner, which UTF-8 cannot hold.
  size_t Convert(const unsigned char* in, size_t n, bool final, unsigned char* out,
                 size_t* written);
  static size_t MaxOutput(size_t n) { return n * 3 + 4; }

  bool stopped() const { return ended_at_zero_ || lone_surrogate_; }
  bool ended_at_zero() const { return ended_at_zero_; }
  bool lone_surrogate() const { return lone_surrogate_; }

  // A line longer than this is read a piece of about this size at a time (ending between UTF-8
  // characters), each piece judged on its own as UTF-8 or not, so that no line needs to be held
  // whole.
  static constexpr size_t kLinePiece = size_t{64} << 10;

 private:
  size_t ConvertUtf16(const unsigned char* in, size_t n, bool final, unsigned char* out,
                      size_t* written);
  unsigned char* PutCodePage(const unsigned char* in, size_t n, unsigned char* out);
  size_t ConvertLines(const unsigned char* in, size_t n, bool final, unsigned char* out,
                      size_t* written);

  SourceEncoding encoding_;
  const uint32_t* page_utf8_;  // the UTF-8 bytes of each byte 80 to FF, the length in the top byte
  bool ended_at_zero_ = false;
  bool lone_surrogate_ = false;
};
