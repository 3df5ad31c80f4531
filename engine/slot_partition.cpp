#include "engine/slot_partition.h"

#include <algorithm>

#include "core/memory_advice.h"
#include "engine/split.h"

SlotPartition::SlotPartition(TextView text, TextView separator, bool whole_separator,
                             bool case_sensitive)
    : start_(kSlots + 1, 0) {
  // Two passes over the source: the first counts the items of each slot and notes each item's
  // slot (two bytes an item), the second puts each item in its place. Splitting twice costs less
  // than holding every item twice.
  ItemBatch batch;
  std::vector<uint16_t> slots;
  {
    KeyedItemReader reader(text, separator, whole_separator, case_sensitive, KeyHashes::Slot);
    while (reader.Read(batch)) {
      for (int k = 0; k < batch.size; ++k) {
        const auto slot = static_cast<uint16_t>(batch.hashes[k] % kSlots);
        ++start_[slot + 1];
        slots.push_back(slot);
      }
    }
  }
  for (uint32_t s = 0; s < kSlots; ++s) start_[s + 1] += start_[s];
  items_.reset(new SlotItem[start_[kSlots]]);
  AdviseHugePages(items_.get(), start_[kSlots] * sizeof(SlotItem));
  std::vector<size_t> next(start_.begin(), start_.end() - 1);
  // The lookup hashes are made here, while the text streams by in order; the operations visit
  // the items slot by slot, all over the text, and would wait for each item's units.
  KeyedItemReader reader(text, separator, whole_separator, case_sensitive, KeyHashes::Lookup);
  const uint16_t* slot = slots.data();
  while (reader.Read(batch)) {
    for (int k = 0; k < batch.size; ++k) {
      const TextView item = batch.items[k];
      uint32_t size = static_cast<uint32_t>(item.size());
      if (item.size() >= SlotItem::kLong) {
        size = SlotItem::kLong;
        long_items_.emplace_back(item.data(), item.size());  // met in the order of the text
      }
      items_[next[*slot++]++] = {item.data(), size, batch.lookups[k]};
    }
  }
}

size_t SlotPartition::LongSize(const char16_t* data) const {
  const auto at =
      std::lower_bound(long_items_.begin(), long_items_.end(), data,
                       [](const auto& entry, const char16_t* d) { return entry.first < d; });
  return at->second;
}
