// The items of a source grouped by the table slot their key falls into.
//
// A 512-slot ItemTable hands out its entries slot by slot, and within a slot newest first. So an
// operation may build the table one slot at a time: the items whose key lands in slot s, taken in
// the order of the source, go into a table of a single slot, whose walk is exactly the chain of
// slot s. Such a table holds a five-hundredth of the keys and stays in the cache, where one big
// table of millions of keys would cost a memory access per lookup.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/text.h"

// 16 bytes, as many of them as the source has items: an item of 2^32 - 1 units or more keeps
// its size in the partition's list of long items instead.
struct SlotItem {
  const char16_t* data;  // the item as it stands in the source
  uint32_t size;
  uint32_t lookup;  // LookupHash of the key: the item, or the folded item when case does not count
  static constexpr uint32_t kLong = UINT32_MAX;
};

class SlotPartition {
 public:
  static constexpr uint32_t kSlots = 512;

  SlotPartition(TextView text, TextView separator, bool whole_separator, bool case_sensitive);
  // The items of slot s in the order of the source.
  std::span<const SlotItem> Slot(uint32_t s) const {
    return std::span<const SlotItem>(items_.get() + start_[s], start_[s + 1] - start_[s]);
  }
  TextView View(const SlotItem& item) const {
    return TextView(item.data, item.size != SlotItem::kLong ? item.size : LongSize(item.data));
  }

 private:
  size_t LongSize(const char16_t* data) const;

  std::unique_ptr<SlotItem[]> items_;  // every element is written by the second pass
  std::vector<size_t> start_;
  std::vector<std::pair<const char16_t*, size_t>> long_items_;  // by their start, ascending
};
