#include "engine/slot_partition.h"

#include "core/memory_advice.h"
#include "engine/split.h"

SlotPartition::SlotPartition(TextView text, TextView separator, bool whole_separator,
                             bool case_sensitive)
    : start_(kSlots + 1, 0) {
  // Two passes over the source: the first counts the items of each slot, the second puts each
  // item in its place. Splitting and hashing twice costs less than holding every item twice.
  ItemBatch batch;
  {
    KeyedItemReader reader(text, separator, whole_separator, case_sensitive);
    while (reader.Read(batch))
      for (int k = 0; k < batch.size; ++k) ++start_[batch.hashes[k] % kSlots + 1];
  }
  for (uint32_t s = 0; s < kSlots; ++s) start_[s + 1] += start_[s];
  items_.reset(new SlotItem[start_[kSlots]]);
  AdviseHugePages(items_.get(), start_[kSlots] * sizeof(SlotItem));
  std::vector<size_t> next(start_.begin(), start_.end() - 1);
  KeyedItemReader reader(text, separator, whole_separator, case_sensitive);
  while (reader.Read(batch)) {
    for (int k = 0; k < batch.size; ++k) {
      const uint32_t hash = batch.hashes[k];
      items_[next[hash % kSlots]++] = {batch.items[k].data(), batch.items[k].size(), hash};
    }
  }
}
