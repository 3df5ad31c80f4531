// Sources read as the program's UTF-8 bytes (see core/utf8.h), in runs of whole items: UTF-8 as it
// stands, every other format converted as it is read. An item's bytes stand for its text: equal
// bytes are equal texts, the table hash of the text is computed from the bytes, and so is its
// case folding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/huge_memory.h"
#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/text.h"
#include "core/transcoder.h"
#include "engine/separators.h"

// The slot in a 512-slot table (StringHash mod 512) of the text the UTF-8 bytes stand for; the
// bytes must be well-formed.
uint32_t Utf8Slot(const unsigned char* bytes, size_t n);
// The same of bytes not yet checked: clears well_formed when they are not well-formed UTF-8.
// `before`: how many readable bytes stand just before `bytes` (0 when unknown).
uint32_t CheckedUtf8Slot(const unsigned char* bytes, size_t n, size_t before, bool& well_formed);
// The same two of the text with ё as е and Ё as Е (FoldYo), without folding the bytes first.
uint32_t YoFoldedUtf8Slot(const unsigned char* bytes, size_t n);
uint32_t CheckedYoFoldedUtf8Slot(const unsigned char* bytes, size_t n, size_t before,
                                 bool& well_formed);

// Case folding on bytes: each UTF-16 unit of the text the bytes stand for lowered as LowerUnit
// does, and with fold_yo then ё written as е (Ё lowers to ё). Writes the folded item to out (room
// for 3 bytes a byte of the item) and returns its length.
size_t FoldUtf8(const unsigned char* bytes, size_t n, unsigned char* out, bool fold_yo = false);

// How a Utf8Lenient source (asked for, or UTF-8 with a mark) is read: as it stands, which is
// right for the well-formed UTF-8 it almost always is and leaves the checking to the reader, or
// converted by the reading rules of old, once it has turned out malformed.
enum class LenientUtf8 : uint8_t { AsItStands, Converted };

// Reads a source in runs of whole items, as generalised UTF-8 (see PutUtf8): a UTF-8 source as
// it stands, any other converted as it is read. A run ends just after a separator, or is the rest
// of the source (`last`). Reading stops at the first zero unit.
class ByteChunks {
 public:
  // The source's bytes from the end of its mark, in `format`. With `length` set, exactly that
  // many bytes of the source are read (fewer is a failure): a second reading of a source takes
  // no more than the first found (see bytes_read).
  ByteChunks(const SourceBytes& source, const SourceFormat& format, const ByteSeparator& separator,
             size_t chunk_bytes = kChunkBytes, uint64_t length = kWhole,
             LenientUtf8 lenient = LenientUtf8::AsItStands);
  ByteChunks(const ByteChunks&) = delete;
  ByteChunks& operator=(const ByteChunks&) = delete;

  // The next run; false once the last was given or reading failed (see failed()).
  bool Next(std::string_view& run, bool& last);
  bool failed() const { return failed_; }
  bool ended_at_zero() const { return ended_at_zero_; }
  // The runs hold a UTF-16 surrogate without its partner, as its 3 bytes: they are generalised
  // UTF-8, which a check for well-formed UTF-8 refuses.
  bool lone_surrogate() const { return transcoder_ != nullptr && transcoder_->lone_surrogate(); }
  // Converted lenient UTF-8 that is not well-formed before its first zero: the user is told.
  bool not_utf8() const { return transcoder_ != nullptr && transcoder_->not_utf8(); }
  // Reads large pieces on up to that many threads.
  void UseThreads(int threads) { threads_ = threads; }
  // How many bytes of the source (after its mark) the runs stand for: all that was read, or at
  // a zero those before it as they stand, and converted those the conversion had to look at. A
  // second reading of that many bytes gives the same runs.
  uint64_t bytes_read() const { return offset_ - start_; }

  static constexpr size_t kChunkBytes = size_t{8} << 20;
  static constexpr uint64_t kWhole = UINT64_MAX;

 private:
  bool Fill();
  bool FillConverted();
  // Converts the source bytes held to the end of the buffer; returns the bytes taken.
  size_t ConvertHeld(size_t& written);
  // Reads up to n bytes at offset_, within length_; false on a read error or a source shorter
  // than length_. Sets source_done_ at the end.
  bool ReadSource(char* into, size_t n, size_t& got);
  // The next buffer size with room for `needed` bytes: a chunk or twice the present size, but
  // no more than the source is expected to fill.
  size_t NextCapacity(size_t needed) const;
  void Grow(size_t capacity);

  const SourceBytes& source_;
  const ByteSeparator& separator_;
  uint64_t start_ = 0;
  uint64_t offset_ = 0;  // where the next read of the source starts
  uint64_t length_ = kWhole;
  std::string_view memory_;  // a UTF-8 source held in memory is handed out in place
  bool in_memory_ = false;
  ScratchBytes buffer_;  // UTF-8
  size_t capacity_ = 0;
  size_t begin_ = 0;  // the carried bytes, not yet handed out, are buffer_[begin_, end_)
  size_t end_ = 0;
  size_t chunk_bytes_;
  size_t size_hint_ = SIZE_MAX;  // what the source is expected to fill, converted
  SourceFormat format_;
  std::unique_ptr<Utf8Transcoder> transcoder_;
  std::unique_ptr<unsigned char[]> raw_;  // source bytes read but not yet converted
  size_t raw_capacity_ = 0;
  size_t raw_held_ = 0;
  int threads_ = 1;
  bool source_done_ = false;
  bool at_end_ = false;
  bool done_ = false;
  bool failed_ = false;
  bool ended_at_zero_ = false;
};
