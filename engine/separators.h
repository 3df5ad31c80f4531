// The read separator on UTF-8 bytes: where runs of whole items are cut, and the items in them.
//
// Sources are held as UTF-8 in which a surrogate without its partner keeps its own three bytes,
// so equal items are equal bytes. UTF-8 finds its own character starts, so a separator's bytes
// occur exactly where its text does, with one exception: a separator that may fall between the
// two halves of a pair (a set holding a surrogate, or a whole separator that begins with a low
// surrogate or ends with a high one). Those are cut on a copy of the run in which every pair is
// written as its two halves.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/simd.h"
#include "core/text.h"

struct ByteSeparator {
  bool whole = false;
  bool ascii = false;         // a set of ASCII units only: the common case, cut by bytes alone
  bool splits_pairs = false;  // may cut between the halves of a pair: runs are cut as halves
  bool has_halves = false;    // holds a surrogate unit, whose bytes no file's UTF-8 may hold
  // The whole separator's bytes; with splits_pairs, with its own pairs written as halves.
  std::string bytes;
  // A set: the bytes that can start a member (its ASCII units and the first bytes of the rest),
  // and the units beyond ASCII as a bitmap of 65536 bits.
  bool starts_member[256] = {};
  std::vector<uint64_t> wide_members;
  unsigned char few[4] = {};  // the distinct bytes that start members, when there are at most four
  int few_count = 0;
};

// False only for the empty separator, which cuts nothing.
bool MakeByteSeparator(TextView separator, bool whole, ByteSeparator& out);

// The items of a run of whole items, one at a time, by the rules of cutting a text into items:
// with `last` the run's final piece is the source's last item (possibly empty); without it the
// run ends just after a separator, and the next run goes on where it stops.
class ByteItemCursor {
 public:
  explicit ByteItemCursor(const ByteSeparator& separator) : separator_(separator) {}
  void Start(std::string_view run, bool last) {
    run_ = run;
    last_ = last;
    done_ = false;
    at_ = 0;
    block_ = 0;
    if (separator_.splits_pairs)
      StartAsHalves();
    else if (!separator_.whole)
      bits_ = StartBits(0);
  }
  // The next item; false when the run has no more. The item points into the run, or (for a
  // separator that cuts pairs) into the cursor's own bytes: valid until the next call.
  bool Next(std::string_view& item) {
    if (done_) return false;
    if (separator_.splits_pairs) return NextOfHalves(item);
    if (separator_.whole) {
      const size_t found = run_.find(separator_.bytes, at_);
      if (found == std::string_view::npos) return Final(item);
      item = run_.substr(at_, found - at_);
      at_ = found + separator_.bytes.size();
      return true;
    }
    return separator_.ascii ? NextInSet<true>(item) : NextInSet<false>(item);
  }
  bool last() const { return last_; }
  // A set of ASCII units, the common case: the items can be had in one loop over the run's
  // separator bits (see ForEachInAsciiSet), which keeps its place in registers.
  bool CutsAsciiSet() const { return !separator_.whole && separator_.ascii; }
  // Calls fn(item, *this) for each item a cursor just started would give, the cursor cutting an
  // ASCII set.
  template <typename Fn>
  void ForEachInAsciiSet(Fn& fn) {
    const size_t n = run_.size();
    size_t at = 0;  // where the next item starts
    for (size_t block = 0; block < n; block += 64) {
      for (uint64_t bits = StartBits(block); bits != 0; bits &= bits - 1) {
        const size_t found = block + static_cast<size_t>(__builtin_ctzll(bits));
        // an empty piece before a separator is dropped
        if (found > at) fn(run_.substr(at, found - at), static_cast<const ByteItemCursor&>(*this));
        at = found + 1;
      }
    }
    done_ = true;
    if (last_) fn(run_.substr(std::min(at, n)), static_cast<const ByteItemCursor&>(*this));
  }
  // Where the item given last starts in the run (its first byte's offset): it grows from item
  // to item, and orders them as they stand in the source.
  size_t OffsetOf(std::string_view item) const {
    return separator_.splits_pairs ? item_offset_ : static_cast<size_t>(item.data() - run_.data());
  }
  // The bytes the item given last lies in, all of them readable: the run or the cursor's copy.
  std::string_view Around() const { return separator_.splits_pairs ? item_ : run_; }

 private:
  template <bool kAscii>
  bool NextInSet(std::string_view& item) {
    for (;;) {
      while (bits_ == 0) {
        block_ += 64;
        if (block_ >= run_.size()) return Final(item);
        bits_ = StartBits(block_);
      }
      const size_t found = block_ + static_cast<size_t>(__builtin_ctzll(bits_));
      bits_ &= bits_ - 1;
      size_t length = 1;
      if (!kAscii && static_cast<unsigned char>(run_[found]) >= 0x80) {
        length = WideMemberLength(found);
        if (length == 0) continue;  // starts a character that is no member
      }
      const size_t from = at_;
      at_ = found + length;
      if (found > from) {
        item = run_.substr(from, found - from);
        return true;
      }
      // an empty piece before a separator is dropped
    }
  }
  // The bytes that may start a member among the 64 from `from` on, as bits.
  uint64_t StartBits(size_t from) const {
    const auto* b = reinterpret_cast<const unsigned char*>(run_.data()) + from;
    const size_t n = run_.size() - from;
    if (n >= 64 && separator_.few_count > 0)
      return SeparatorMask64(b, separator_.few, separator_.few_count);
    uint64_t bits = 0;
    for (size_t i = 0; i < n && i < 64; ++i)
      if (separator_.starts_member[b[i]]) bits |= uint64_t{1} << i;
    return bits;
  }
  // The length of the member beyond ASCII that starts at run_[at], or 0.
  size_t WideMemberLength(size_t at) const;
  bool Final(std::string_view& item) {
    done_ = true;
    if (!last_) return false;
    item = run_.substr(std::min(at_, run_.size()));
    return true;
  }
  void StartAsHalves();
  bool NextOfHalves(std::string_view& item);

  const ByteSeparator& separator_;
  std::string_view run_;
  size_t at_ = 0;     // where the next item starts
  size_t block_ = 0;  // the 64 bytes whose separators bits_ holds, those not yet passed
  uint64_t bits_ = 0;
  bool last_ = false;
  bool done_ = true;
  // A separator that cuts pairs: the run with its pairs as halves, where each pair starts in
  // it, and the item given last with its pairs joined again.
  std::string halves_;
  std::vector<size_t> pair_starts_;
  std::string item_;
  size_t item_offset_ = 0;
};

// Calls fn(item, cursor) for each item of a run of whole items (see ByteItemCursor).
template <typename Fn>
void ForEachByteItem(std::string_view bytes, const ByteSeparator& separator, bool last, Fn&& fn) {
  ByteItemCursor cursor(separator);
  cursor.Start(bytes, last);
  if (cursor.CutsAsciiSet()) return cursor.ForEachInAsciiSet(fn);
  std::string_view item;
  while (cursor.Next(item)) fn(item, static_cast<const ByteItemCursor&>(cursor));
}

// Offset just past the last separator in bytes[0, n) that a scan from the start finds and that
// ends between two characters; 0 when there is none. The bytes from there on start a run.
size_t EndOfLastSeparator(const char* bytes, size_t n, const ByteSeparator& separator);

// Where a run of whole items is cut into `parts` pieces of about equal size, each ending just
// after a separator: the ends of the pieces but the last. Fewer when separators are scarce.
std::vector<size_t> CutPoints(std::string_view run, int parts, const ByteSeparator& separator);
