// The read separator on UTF-8 bytes: where runs of whole items are cut, and the items in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The items of a run of whole items, one at a time, by the rules of ItemSplitter: with `last`
// the run's final piece is the source's last item (possibly empty); without it the run ends just
// after a separator, and the next run goes on where it stops.
class ByteItemCursor {
 public:
  explicit ByteItemCursor(const ByteSeparator& separator) : separator_(separator) {}
  void Start(std::string_view run, bool last) {
    run_ = run;
    last_ = last;
    done_ = false;
    at_ = 0;
    block_ = 0;
    if (!separator_.whole) bits_ = SeparatorBits(0);
  }
  // The next item of the run, pointing into it; false when the run has no more.
  bool Next(std::string_view& item) {
    if (done_) return false;
    if (separator_.whole) {
      const size_t found = run_.find(separator_.bytes, at_);
      if (found == std::string_view::npos) return Final(item);
      item = run_.substr(at_, found - at_);
      at_ = found + separator_.bytes.size();
      return true;
    }
    for (;;) {
      while (bits_ == 0) {
        block_ += 64;
        if (block_ >= run_.size()) return Final(item);
        bits_ = SeparatorBits(block_);
      }
      const size_t found = block_ + static_cast<size_t>(__builtin_ctzll(bits_));
      bits_ &= bits_ - 1;
      const size_t from = at_;
      at_ = found + 1;
      if (found > from) {
        item = run_.substr(from, found - from);
        return true;
      }
      // an empty piece before a separator is dropped
    }
  }
  bool last() const { return last_; }

 private:
  // The separator bytes among the 64 from `from` on, as bits.
  uint64_t SeparatorBits(size_t from) const {
    const auto* b = reinterpret_cast<const unsigned char*>(run_.data()) + from;
    const size_t n = run_.size() - from;
    if (n >= 64 && separator_.few_count > 0)
      return SeparatorMask64(b, separator_.few, separator_.few_count);
    uint64_t bits = 0;
    for (size_t i = 0; i < n && i < 64; ++i)
      if (separator_.is_separator[b[i]]) bits |= uint64_t{1} << i;
    return bits;
  }
  bool Final(std::string_view& item) {
    done_ = true;
    if (!last_) return false;
    item = run_.substr(std::min(at_, run_.size()));
    return true;
  }

  const ByteSeparator& separator_;
  std::string_view run_;
  size_t at_ = 0;     // where the next item starts
  size_t block_ = 0;  // the 64 bytes whose separators bits_ holds, those not yet passed
  uint64_t bits_ = 0;
  bool last_ = false;
  bool done_ = true;
};

// Calls fn(std::string_view item) for each item of a run of whole items (see ByteItemCursor).
template <typename Fn>
void ForEachByteItem(std::string_view bytes, const ByteSeparator& separator, bool last, Fn&& fn) {
  ByteItemCursor cursor(separator);
  cursor.Start(bytes, last);
  std::string_view item;
  while (cursor.Next(item)) fn(item);
}

// Offset just past the last separator in bytes[0, n) as ItemSplitter would find it scanning from
// the start; 0 when there is none.
size_t EndOfLastSeparator(const char* bytes, size_t n, const ByteSeparator& separator);

// Where a run of whole items is cut into `parts` pieces of about equal size, each ending just
// after a separator: the ends of the pieces but the last. Fewer when separators are scarce.
std::vector<size_t> CutPoints(std::string_view run, int parts, const ByteSeparator& separator);
