// Sources read as UTF-8 bytes, in runs of whole items, without making a 16-bit text of them.
//
// A well-formed UTF-8 source cut at ASCII separator bytes gives exactly the items its text would
// give, and an item's bytes stand for its text: equal bytes are equal texts, and the table hash of
// the text can be computed from the bytes. Anything else (other formats, bytes that are not
// well-formed, separators outside ASCII) is left to the 16-bit engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/simd.h"
#include "core/text.h"

// The read separator as bytes: a set of ASCII bytes, or one whole ASCII string.
struct ByteSeparator {
  bool whole = false;
  std::string bytes;
  bool is_separator[256] = {};
  unsigned char few[4] = {};  // the distinct bytes of the set, when there are at most four
  int few_count = 0;
};

// False when a unit of the separator is outside ASCII (or there is none).
bool MakeByteSeparator(TextView separator, bool whole, ByteSeparator& out);

// Calls fn(std::string_view item) for each item of `bytes`, which hold whole items only: with
// `last` the final piece is the source's last item (possibly empty), without it `bytes` end just
// after a separator. The rules are those of ItemSplitter.
template <typename Fn>
void ForEachByteItem(std::string_view bytes, const ByteSeparator& separator, bool last, Fn&& fn);

// Offset just past the last separator in bytes[0, n) as ItemSplitter would find it scanning from
// the start; 0 when there is none.
size_t EndOfLastSeparator(const char* bytes, size_t n, const ByteSeparator& separator);

// Whether bytes[0, n) are well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// 10FFFF, nothing cut short).
bool IsWellFormedUtf8(const unsigned char* bytes, size_t n);

// The table hash (StringHash) of the text the UTF-8 bytes stand for; the bytes must be
// well-formed.
uint32_t Utf8StringHash(const unsigned char* bytes, size_t n);
// The same of bytes not yet checked: clears well_formed when they are not well-formed UTF-8.
uint32_t CheckedUtf8StringHash(const unsigned char* bytes, size_t n, bool& well_formed);

// Case folding on bytes: each UTF-16 unit of the text lowered as LowerUnit does. Usable only when
// the folding maps no unit into or out of the surrogates (it never does in practice); the engine
// checks before it relies on it.
bool ByteFoldingUsable();
// Writes the folded item to out (room for 3 bytes a byte of the item) and returns its length.
size_t FoldUtf8(const unsigned char* bytes, size_t n, unsigned char* out);

// Reads a source in runs of whole items. A run ends just after a separator, or is the rest of the
// source (`last`). Reading stops at the first zero byte.
class ByteChunks {
 public:
  // From an open descriptor, not closed here; the bytes start at its current position. With
  // `length` set, exactly that many bytes are read (fewer is a failure): a second reading of a
  // source takes no more than the first found.
  ByteChunks(int fd, const ByteSeparator& separator, size_t chunk_bytes = kChunkBytes,
             uint64_t length = kWhole);
  // From bytes in memory, which must outlive the reader.
  ByteChunks(std::string_view bytes, const ByteSeparator& separator,
             size_t chunk_bytes = kChunkBytes);
  ByteChunks(const ByteChunks&) = delete;
  ByteChunks& operator=(const ByteChunks&) = delete;

  // The next run; false once the last was given or reading failed (see failed()).
  bool Next(std::string_view& run, bool& last);
  bool failed() const { return failed_; }
  bool ended_at_zero() const { return ended_at_zero_; }
  // Reads large pieces on two threads.
  void UseTwoCores(bool two) { two_cores_ = two; }
  // Where the source started and how many bytes were read from it.
  uint64_t start() const { return start_; }
  uint64_t bytes_read() const { return offset_ - start_; }

  static constexpr size_t kChunkBytes = size_t{8} << 20;
  static constexpr uint64_t kWhole = UINT64_MAX;

 private:
  bool Fill();

  const ByteSeparator& separator_;
  int fd_ = -1;
  uint64_t start_ = 0;
  uint64_t offset_ = 0;  // where the next read starts
  uint64_t length_ = kWhole;
  std::string_view memory_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // the carried bytes, not yet handed out, are buffer_[begin_, end_)
  size_t end_ = 0;
  size_t chunk_bytes_;
  bool two_cores_ = false;
  bool at_end_ = false;
  bool done_ = false;
  bool failed_ = false;
  bool ended_at_zero_ = false;
};

template <typename Fn>
void ForEachByteItem(std::string_view bytes, const ByteSeparator& separator, bool last, Fn&& fn) {
  const char* p = bytes.data();
  const size_t n = bytes.size();
  if (separator.whole) {
    const std::string_view sep = separator.bytes;
    size_t start = 0;
    for (size_t at = 0;;) {
      const size_t found = bytes.find(sep, at);
      if (found == std::string_view::npos) break;
      fn(std::string_view(p + start, found - start));
      start = at = found + sep.size();
    }
    if (last) fn(std::string_view(p + start, n - start));
    return;
  }
  size_t start = 0;
  auto cut = [&](size_t i) {
    if (i > start) fn(std::string_view(p + start, i - start));
    start = i + 1;  // an empty piece before a separator is dropped
  };
  if (separator.few_count > 0) {
    ForEachByteOf(reinterpret_cast<const unsigned char*>(p), n, separator.few, separator.few_count,
                  cut);
  } else {
    for (size_t i = 0; i < n; ++i)
      if (separator.is_separator[static_cast<unsigned char>(p[i])]) cut(i);
  }
  if (last) fn(std::string_view(p + start, n - start));
}
