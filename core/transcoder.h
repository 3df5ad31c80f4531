// Sources in any format but plain UTF-8 (UTF-16, UTF-32, a code page, lenient UTF-8) turned into
// UTF-8 as they are read, so that the byte engine takes them as it takes UTF-8 lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/source_format.h"

class Utf8Transcoder {
 public:
  // For every encoding but plain UTF-8, which needs no conversion. Utf8Lenient reads by the
  // rules of old (see GroupLenientUtf8), Utf8OrCodePage line by line.
  explicit Utf8Transcoder(const SourceFormat& format);

  // Converts what can be converted now of in[0, n) into out, which has room for MaxOutput(n)
  // bytes; sets *written and returns the input bytes consumed. What is not consumed (half a
  // unit, a line not yet ended, a UTF-8 group not yet whole) must be offered again with what
  // follows; with `final` the input ends here. The output is generalised UTF-8 (see PutUtf8):
  // a UTF-16 surrogate without its partner stays in it. The text ends at its zero unit, which is
  // consumed with whatever the reading had to look at to end the text there; input after that is
  // left unconsumed, and no more is taken.
  size_t Convert(const unsigned char* in, size_t n, bool final, unsigned char* out,
                 size_t* written);
  // Three bytes a byte at most, and lenient UTF-8 may finish a character and a surrogate held
  // from before.
  static size_t MaxOutput(size_t n) { return n * 3 + 8; }

  // The zero unit was reached: nothing after it is read.
  bool stopped() const { return ended_at_zero_; }
  bool ended_at_zero() const { return ended_at_zero_; }
  // The output holds a surrogate without its partner (3 bytes): UTF-16 held one, or lenient
  // UTF-8 decoded one.
  bool lone_surrogate() const { return lone_surrogate_; }
  // Lenient UTF-8 whose bytes before the first zero are not well-formed. Its text may end
  // before the zero; the rest is still read, for this and ended_at_zero to tell the truth.
  bool not_utf8() const { return not_utf8_; }

  // UTF-16 and UTF-32 carry nothing from one call to the next: a later part of the input may be
  // converted by another transcoder at the same time, which then tells this one what it found.
  bool ConvertsUnitByUnit() const;
  void TakeNotices(const Utf8Transcoder& later) {
    ended_at_zero_ = ended_at_zero_ || later.ended_at_zero_;
    lone_surrogate_ = lone_surrogate_ || later.lone_surrogate_;
  }

  // A line longer than this is read a piece of about this size at a time (ending between UTF-8
  // characters), each piece judged on its own as UTF-8 or not, so that no line needs to be held
  // whole.
  static constexpr size_t kLinePiece = size_t{64} << 10;

 private:
  size_t ConvertUtf16(const unsigned char* in, size_t n, bool final, unsigned char* out,
                      size_t* written);
  size_t ConvertUtf32(const unsigned char* in, size_t n, bool final, unsigned char* out,
                      size_t* written);
  size_t ConvertLenient(const unsigned char* in, size_t n, bool final, unsigned char* out,
                        size_t* written);
  unsigned char* DecodeGrouped(const unsigned char* b, size_t n, bool final, unsigned char* out,
                               size_t& used);
  unsigned char* PutLenient(uint32_t value, unsigned char* out);
  unsigned char* PutPendingHigh(unsigned char* out);
  unsigned char* PutCodePage(const unsigned char* in, size_t n, unsigned char* out);
  size_t ConvertLines(const unsigned char* in, size_t n, bool final, unsigned char* out,
                      size_t* written);

  SourceEncoding encoding_;
  const uint32_t* page_utf8_;  // the UTF-8 bytes of each byte 80 to FF, the length in the top byte
  bool ended_at_zero_ = false;
  bool lone_surrogate_ = false;
  // Lenient UTF-8: its grouped bytes, those the decoding left for more first.
  std::unique_ptr<unsigned char[]> grouped_;
  size_t grouped_capacity_ = 0;
  unsigned char carried_[4] = {};
  size_t carried_count_ = 0;
  uint32_t pending_high_ = 0;  // a decoded high surrogate, which the next value may pair with
  bool text_ended_ = false;    // the decoding ended; the grouping goes on to the zero
  bool not_utf8_ = false;
};
