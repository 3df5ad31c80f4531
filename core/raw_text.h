// A source's bytes up to the zero unit that ends its text, read whole into memory.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/decoders.h"
#include "core/memory_advice.h"

struct RawText {
  std::unique_ptr<unsigned char[]> data;
  size_t size = 0;
  bool failed = false;  // a read error, or a file cut while read
  bool ended_at_zero = false;
};

// The bytes `held` already at hand, then those that read(into, n) gives (the count, 0 at the
// end, -1 on an error), up to the first zero unit of `unit` bytes and `lookahead` bytes past it.
// `expected` is how many bytes are still to come, or -1. Throws std::bad_alloc when the bytes do
// not fit in memory: a list too large must never read as a shorter one.
template <typename Read>
RawText ReadUntilZeroUnit(std::string_view held, int64_t expected, size_t unit, size_t lookahead,
                          Read&& read) {
  constexpr size_t kPiece = size_t{1} << 20;
  const auto* at_hand = reinterpret_cast<const unsigned char*>(held.data());
  // One byte beyond the expected size shows the end without a second allocation.
  size_t capacity = expected >= 0 ? held.size() + static_cast<size_t>(expected) + 1 : kPiece;
  capacity = std::max(capacity, held.size() + 1);
  // A zero among the bytes at hand ends the text there: a disk image or a sparse file, often
  // larger than memory, must not be allocated whole for the few bytes before it.
  if (FindZeroUnit(at_hand, 0, held.size(), unit) + unit <= held.size())
    capacity = held.size() + lookahead + 1;
  RawText raw;
  raw.data.reset(new unsigned char[capacity]);
  AdviseHugePages(raw.data.get(), capacity);
  if (!held.empty()) std::memcpy(raw.data.get(), at_hand, held.size());
  raw.size = held.size();
  size_t scanned = 0;  // bytes known to hold no zero unit; a multiple of `unit`
  size_t wanted = SIZE_MAX;
  for (;;) {
    if (!raw.ended_at_zero) {
      scanned = FindZeroUnit(raw.data.get(), scanned, raw.size, unit);
      if (scanned + unit <= raw.size) {
        raw.ended_at_zero = true;
        wanted = scanned + unit + lookahead;
      }
    }
    if (raw.size >= wanted) break;
    if (raw.size == capacity) {
      // The source holds more than its size said, or it is a pipe: make room and go on.
      const size_t larger = std::max(capacity * 2, kPiece);
      std::unique_ptr<unsigned char[]> more(new unsigned char[larger]);
      std::memcpy(more.get(), raw.data.get(), raw.size);
      raw.data = std::move(more);
      capacity = larger;
    }
    // Pieces rather than the whole rest at once, so that a zero stops the reading soon.
    const size_t piece = std::min({capacity - raw.size, kPiece, wanted - raw.size});
    const ssize_t got = read(raw.data.get() + raw.size, piece);
    if (got < 0) raw.failed = true;
    if (got <= 0) break;
    raw.size += static_cast<size_t>(got);
  }
  if (raw.size > wanted) raw.size = wanted;
  return raw;
}
