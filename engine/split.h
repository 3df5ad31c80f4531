// Cutting a source text into items: by the whole separator string, or by each of its units.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>
#include <vector>

#include "core/item_list.h"
#include "core/item_table.h"
#include "core/text.h"

// Walks the items of a text in order without copying them. The whole-string rule keeps every
// item, empty ones included (k separators give k + 1 items). The character rule drops empty
// pieces, except the final one, so the empty text and a text ending in a separator end with an
// empty item.
class ItemSplitter {
 public:
  ItemSplitter(TextView text, TextView separator, bool whole_separator);
  // The next item, or false when all have been given.
  bool Next(TextView& item);

 private:
  bool NextWhole(TextView& item);
  bool NextChars(TextView& item);

  TextView text_;
  TextView separator_;
  bool whole_;
  bool done_ = false;
  size_t at_ = 0;
  char16_t few_[4] = {};  // up to four distinct separator units, searched side by side
  int few_count_ = 0;
  std::vector<uint64_t> unit_set_;  // bitmap of separator units, when there are more
};

// Items in batches with their table keys (folded when case does not count) and their hashes,
// so that lookups for several items can be under way at once.
struct ItemBatch {
  static constexpr int kCapacity = 1024;
  int size = 0;
  TextView items[kCapacity];
  TextView keys[kCapacity];
  uint32_t hashes[kCapacity];
};

class KeyedItemReader {
 public:
  KeyedItemReader(TextView text, TextView separator, bool whole_separator, bool case_sensitive);
  // Fills the batch; false when no item was left.
  bool Read(ItemBatch& batch);

 private:
  ItemSplitter splitter_;
  bool case_sensitive_;
  std::vector<char16_t> folded_;
};

// A container that could not get memory for an entry answers none; an item silently left out
// would be a wrong result, so the run is ended as out of memory instead.
template <typename T>
T* Required(T* entry) {
  if (entry == nullptr) throw std::bad_alloc();
  return entry;
}

// Calls fn(k) for every item of the batch in order, with the lookups of later items under way:
// a table lookup costs a few cache misses that are much cheaper side by side than one by one.
template <typename Fn, typename... Tables>
void ForEachPrefetched(const ItemBatch& batch, Fn&& fn, const Tables&... tables) {
  constexpr int kSlotAhead = 48, kEntryAhead = 32, kKeyAhead = 16;
  const int n = batch.size;
  for (int k = 0; k < kSlotAhead && k < n; ++k) (tables.Prefetch(batch.hashes[k]), ...);
  for (int k = 0; k < n; ++k) {
    if (k + kSlotAhead < n) (tables.Prefetch(batch.hashes[k + kSlotAhead]), ...);
    if (k + kEntryAhead < n) (tables.PrefetchEntry(batch.hashes[k + kEntryAhead]), ...);
    if (k + kKeyAhead < n) (tables.PrefetchKey(batch.hashes[k + kKeyAhead]), ...);
    fn(k);
  }
}

// The table splitters store borrowed views of the text: the text must outlive the table. With
// case_flag 1 the key is the item and the value stays empty; with 0 the key is the folded item
// (copied into the table) and a TextRef value holds the last occurrence of it, unfolded. Tables
// whose values are never read may have a smaller value type.
template <typename Value>
void SplitToTable(TextView text, ItemTable<Value>& table, TextView separator,
                  bool whole_separator, int case_flag) {
  TableClear(table);
  // Lists of e-mails, URLs and names run to some 30 units an item: room for that many keys
  // saves most of the index's regrowing, and costs little when fewer come.
  table.ReserveKeys(text.size() / 32);
  const bool case_sensitive = case_flag != 0;
  KeyedItemReader reader(text, separator, whole_separator, case_sensitive);
  ItemBatch batch;
  while (reader.Read(batch)) {
    ForEachPrefetched(batch, [&](int k) {
      // Borrowed keys point into the text; folded keys live in a scratch buffer and are copied.
      Value* value = Required(table.Add(batch.keys[k], batch.hashes[k], !case_sensitive));
      if constexpr (std::is_same_v<Value, TextRef>) {
        if (!case_sensitive) {
          value->data = batch.items[k].data();
          value->size = static_cast<uint32_t>(batch.items[k].size());
        }
      }
    }, table);
  }
}
void SplitWholeToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       int case_flag);
void SplitCharsToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       int case_flag);
void SplitWholeToList(TextView text, ItemList<Text>& list, TextView separator);
void SplitCharsToList(TextView text, ItemList<Text>& list, TextView separator);
