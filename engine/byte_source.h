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
#include "core/simd.h"
#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/text.h"
#include "core/transcoder.h"
#include "engine/separators.h"

namespace slot_detail {

// The slot of the text the bytes stand for is its StringHash mod 512. As 65599 = 63 (mod 512) and
// 63^8 = 1 (mod 512), that is 63^(n-1) * sum(u[j] * 63^-j) mod 512 over the text's n UTF-16 units:
// each unit is weighed by a pattern that repeats every 8 units, so no product waits for another
// and 16 ASCII bytes are weighed at once.
inline constexpr uint32_t kPower[8] = {1, 63, 385, 191, 257, 319, 129, 447};   // 63^k mod 512
inline constexpr uint16_t kWeight[8] = {1, 447, 129, 319, 257, 191, 385, 63};  // 63^-k mod 512

#if defined(__SSE2__)
// The weights of 16 units from unit j on, by j mod 8.
struct alignas(16) WeightRows {
  uint16_t row[8][8];
};
constexpr WeightRows MakeWeightRows() {
  WeightRows rows{};
  for (int r = 0; r < 8; ++r)
    for (int k = 0; k < 8; ++k) rows.row[r][k] = kWeight[(r + k) % 8];
  return rows;
}
inline constexpr WeightRows kWeightRows = MakeWeightRows();
// 16 bytes from kKeep + k keep the last k of 16 bytes.
alignas(16) inline constexpr unsigned char kKeep[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// 16 bytes from kKeepFirst + 16 - k keep the first k of 16 bytes.
alignas(16) inline constexpr unsigned char kKeepFirst[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

// The sum of the four 32-bit lanes, mod 2^32.
inline uint32_t SumOfLanes(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

inline __m128i Weighed(__m128i bytes, size_t unit) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(kWeightRows.row[unit & 7]));
  return _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), w),
                       _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), w));
}

// The three blocks of 16 bytes that end with b[0, n), n at most 48 and 48 bytes readable back
// from b + n, the bytes before b masked off: read without a branch on the length.
inline void BlocksEndingWith(const unsigned char* b, size_t n, __m128i (&blocks)[3]) {
  const auto keep = [](size_t k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeep + (k < 16 ? k : 16)));
  };
  const auto block = [&](size_t back) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - back));
  };
  blocks[0] = _mm_and_si128(block(48), keep(n > 32 ? n - 32 : 0));
  blocks[1] = _mm_and_si128(block(32), keep(n > 16 ? n - 16 : 0));
  blocks[2] = _mm_and_si128(block(16), keep(n));
}
#endif

// The slot of bytes b[0, n) that are ASCII, when `before` readable bytes stand before them and
// n is at most 48: most items of most lists. False for any other item.
inline bool ShortAsciiSlot(const unsigned char* b, size_t n, size_t before, uint32_t& slot) {
#if defined(__SSE2__)
  // Three blocks that end with the item, weighed without a branch on the length: units 16 apart
  // share their weights.
  if (n > 48 || before + n < 48) return false;
  __m128i blocks[3];
  BlocksEndingWith(b, n, blocks);
  if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(blocks[0], blocks[1]), blocks[2])) != 0)
    return false;
  // Lane k of each block is unit n - 16 + k, less a multiple of 16.
  __m128i sums = _mm_add_epi32(Weighed(blocks[0], n), Weighed(blocks[1], n));
  sums = _mm_add_epi32(sums, Weighed(blocks[2], n));
  slot = SumOfLanes(sums) * kPower[(n - 1) & 7] % 512;
  return true;
#else
  (void)b, (void)n, (void)before, (void)slot;
  return false;
#endif
}

uint32_t Utf8SlotOfAny(const unsigned char* bytes, size_t n, size_t before);
uint32_t CheckedUtf8SlotOfAny(const unsigned char* bytes, size_t n, size_t before,
                              bool& well_formed);
uint32_t CheckedYoFoldedUtf8SlotOfAny(const unsigned char* bytes, size_t n, size_t before,
                                      bool& well_formed);

}  // namespace slot_detail

// The slot in a 512-slot table (StringHash mod 512) of the text the UTF-8 bytes stand for; the
// bytes must be well-formed.
uint32_t Utf8Slot(const unsigned char* bytes, size_t n);
// The same, `before` readable bytes standing just before `bytes`: inline, as for CheckedUtf8Slot
// below, for the items of converted sources.
inline uint32_t Utf8Slot(const unsigned char* bytes, size_t n, size_t before) {
  uint32_t slot;
  if (slot_detail::ShortAsciiSlot(bytes, n, before, slot)) return slot;
  return slot_detail::Utf8SlotOfAny(bytes, n, before);
}
// The same of bytes not yet checked: clears well_formed when they are not well-formed UTF-8.
// `before`: how many readable bytes stand just before `bytes` (0 when unknown). Inline, as it
// is taken for every item read: the short ASCII item costs no call.
inline uint32_t CheckedUtf8Slot(const unsigned char* bytes, size_t n, size_t before,
                                bool& well_formed) {
  uint32_t slot;
  if (slot_detail::ShortAsciiSlot(bytes, n, before, slot)) return slot;
  return slot_detail::CheckedUtf8SlotOfAny(bytes, n, before, well_formed);
}
// The same two of the text with ё as е and Ё as Е (FoldYo), without folding the bytes first.
uint32_t YoFoldedUtf8Slot(const unsigned char* bytes, size_t n);
inline uint32_t YoFoldedUtf8Slot(const unsigned char* bytes, size_t n, size_t before) {
  uint32_t slot;
  if (slot_detail::ShortAsciiSlot(bytes, n, before, slot)) return slot;
  return YoFoldedUtf8Slot(bytes, n);
}
inline uint32_t CheckedYoFoldedUtf8Slot(const unsigned char* bytes, size_t n, size_t before,
                                        bool& well_formed) {
  uint32_t slot;
  if (slot_detail::ShortAsciiSlot(bytes, n, before, slot)) return slot;
  return slot_detail::CheckedYoFoldedUtf8SlotOfAny(bytes, n, before, well_formed);
}

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
  // than length_. Sets source_done_ at the end. With `zero`, sets it to the offset of the first
  // zero byte of those read (SIZE_MAX when there is none).
  bool ReadSource(char* into, size_t n, size_t& got, size_t* zero = nullptr);
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
