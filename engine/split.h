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

// Items in batches with their table keys (folded when case does not count) and their hashes:
// the splitting and hashing of many items run as one tight loop.
struct ItemBatch {
  static constexpr int kCapacity = 1024;
  int size = 0;
  TextView items[kCapacity];
  TextView keys[kCapacity];
  uint32_t hashes[kCapacity];   // StringHash of the key, when the reader was asked for it
  uint32_t lookups[kCapacity];  // LookupHash of the key, likewise
};

// Which hashes a reader makes of each key.
enum class KeyHashes : uint8_t { Slot = 1, Lookup = 2, Both = 3 };

class KeyedItemReader {
 public:
  KeyedItemReader(TextView text, TextView separator, bool whole_separator, bool case_sensitive,
                  KeyHashes hashes = KeyHashes::Slot);
  // Fills the batch; false when no item was left.
  bool Read(ItemBatch& batch);

 private:
  ItemSplitter splitter_;
  bool case_sensitive_;
  bool slot_hash_;
  bool lookup_hash_;
  std::vector<char16_t> folded_;
};

// A container that could not get memory for an entry answers none; an item silently left out
// would be a wrong result, so the run is ended as out of memory instead.
template <typename T>
T* Required(T* entry) {
  if (entry == nullptr) throw std::bad_alloc();
  return entry;
}

// The table splitters store borrowed views of the text: the text must outlive the table. With
// case counting the key is the item and the value stays empty; without, the key is the folded
// item (copied into the table) and the value the last occurrence of it, unfolded.
void SplitWholeToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       bool case_sensitive);
void SplitCharsToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       bool case_sensitive);
void SplitWholeToList(TextView text, ItemList<Text>& list, TextView separator);
void SplitCharsToList(TextView text, ItemList<Text>& list, TextView separator);
