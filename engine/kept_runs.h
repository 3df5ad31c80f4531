// Lines put in order across groups, from lists in memory and sorted runs in a temporary file
// merged as they are written. The items that only-in-second and only-in-first keep when keys are
// folded are written so in slot order, the later of one slot first; so are the lines of a run
// asked for another order than the table's walk (see LineBefore); for lists larger than memory
// each group's go to a run. A group made in shares writes its lines so too, each share's a run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/result_sink.h"
#include "engine/run_request.h"

// A line kept to be written in order: an item kept by only-in-second or only-in-first with folded
// keys, a line of a share, or a line of a run in an order of its own.
struct KeptItem {
  size_t offset;  // in the bytes of its group or share
  size_t size;
  uint32_t slot;      // in table order its slot; in the others its rank (see LineBefore)
  uint32_t skip;      // the bytes of the line before its item: the counter of a count line
  uint64_t sequence;  // its place in the source, or in the group
};

// Whether a line goes before another, told by slot (or rank), sequence and the item's bytes.
//
// Table order: slots ascending, the later of one slot first. Every other order ranks first and
// then puts the earlier first. The first occurrence of a line's item is its sequence (the
// source's number in its top bit, so that the first list's items come first); the order of
// first occurrence ranks them all alike, the order of counts by the counter, the highest
// first. Code point order ranks by the item's first four bytes (see ItemPrefix), then compares
// its bytes: the generalised UTF-8 of the program keeps code point order in byte order, and
// gives a lone surrogate its unit's place, between U+D7FF and U+E000, as its three bytes ED A0
// 80 to ED BF BF do.
inline bool LineBefore(ItemOrder order, uint32_t x_slot, uint64_t x_sequence,
                       std::string_view x_item, uint32_t y_slot, uint64_t y_sequence,
                       std::string_view y_item) {
  if (order == ItemOrder::OrderTable) {
    if (x_slot != y_slot) return x_slot < y_slot;
    return x_sequence > y_sequence;
  }
  if (x_slot != y_slot) return x_slot < y_slot;
  if (order == ItemOrder::OrderSorted) {
    const int c = std::memcmp(x_item.data(), y_item.data(), std::min(x_item.size(), y_item.size()));
    if (c != 0) return c < 0;
    if (x_item.size() != y_item.size()) return x_item.size() < y_item.size();
  }
  return x_sequence < y_sequence;
}

// The rank of an item in code point order: its first four bytes as one number, the first the
// highest, a shorter item's filled with zeros. An item holds no zero byte, so the ranks of two
// items are in the order of their bytes, and most comparisons end with them.
inline uint32_t ItemPrefix(const unsigned char* bytes, size_t size) {
  uint32_t prefix = 0;
  for (size_t i = 0; i < 4; ++i) prefix = prefix << 8 | (i < size ? bytes[i] : 0u);
  return prefix;
}

// The same of two kept lines whose bytes are in `bytes`.
inline bool KeptBefore(ItemOrder order, std::string_view bytes, const KeptItem& x,
                       const KeptItem& y) {
  if (order != ItemOrder::OrderSorted)
    return LineBefore(order, x.slot, x.sequence, {}, y.slot, y.sequence, {});
  return LineBefore(order, x.slot, x.sequence, bytes.substr(x.offset + x.skip, x.size - x.skip),
                    y.slot, y.sequence, bytes.substr(y.offset + y.skip, y.size - y.skip));
}

// Sorted runs of kept items in one temporary file.
class KeptRuns {
 public:
  KeptRuns() = default;
  ~KeptRuns();
  KeptRuns(const KeptRuns&) = delete;
  KeptRuns& operator=(const KeptRuns&) = delete;

  // Adds the items (in written order, see KeptBefore; their bytes in `bytes`) as a run. False
  // when the file cannot be made or written.
  bool Add(const std::vector<KeptItem>& items, std::string_view bytes);
  uint64_t items() const { return items_; }

 private:
  friend class KeptMerge;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t items_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // where each begins and ends
};

// A group's kept items in memory, in written order, with the bytes they point into.
struct KeptList {
  const std::vector<KeptItem>* items;
  std::string_view bytes;
};

// Writes the kept items of lists in memory and of runs on disk in written order, in blocks of
// items each ended by `separator`.
class KeptMerge {
 public:
  explicit KeptMerge(ItemOrder order = ItemOrder::OrderTable) : order_(order) {}
  void Add(const KeptList& list) { lists_.push_back(list); }
  void Add(const KeptRuns& runs) { runs_.push_back(&runs); }
  // Reads the runs through `memory` bytes of buffers in all; `go_on(items written, items)` after
  // each block, and the work stops when it returns false. `written`: the items written. False
  // when a file cannot be read back.
  // Lists in memory alone are merged on up to `threads` threads.
  bool Write(size_t memory, ResultSink& sink, std::string_view separator,
             const std::function<bool(uint64_t, uint64_t)>& go_on, uint64_t& written,
             int threads = 1) const;

 private:
  // Fewer lines than this are merged on one thread: a thread for them costs more than it saves.
  static constexpr uint64_t kPartLines = 1 << 16;
  bool WriteInParts(ResultSink& sink, std::string_view separator,
                    const std::function<bool(uint64_t, uint64_t)>& go_on, uint64_t total,
                    uint64_t& written, int threads) const;
  ItemOrder order_;
  std::vector<KeptList> lists_;
  std::vector<const KeptRuns*> runs_;
};
